// What a run learns about its host, told as it learns it.
//
// The single tool only prints; the fleet sweep's worker records. Both hear
// the same run through this sink, so nothing downstream ever parses console
// text. Facts arrive in the order the stages learn them, and a run that is
// cut short has told every fact it learned before.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace quorvex {

enum class Fact {
  Address,      // dotted address the host resolved to
  FullName,     // the full host name: as given, or the reverse name of an address
  NetBiosName,  // computer name as the host reported it
  Domain,       // domain as the host reported it
  AdminShare,   // whether admin$ answered (flag)
  FreeBytes,    // free bytes of admin$ (number), when measured
  ProductType,  // registry text
  OsVersion,    // registry text
  // Beside CurrentVersion, for callers that ask for them (WantsOsDetails):
  CurrentMajorVersionNumber,  // number
  CurrentMinorVersionNumber,  // number
  CurrentBuildNumber,         // text
  UBR,                        // number
  DisplayVersion,             // text
  ReleaseId,                  // text
  ProductName,                // text
  EditionID,                  // text
  InstallationType,           // text
  // Of the SMB connection that carried the checks, for callers that ask for
  // them (WantsSmbFacts):
  SmbDialect,          // text: "2.0.2", "2.1", "3.0", "3.0.2", "3.1.1"
  SmbSigningRequired,  // flag
  // What a move to another domain trips over, for callers that ask for them
  // (WantsMoveFacts). Lists come as items; an item without fields opens its
  // list, so a list read and found empty differs from one never read.
  ClockSkew,       // text: the host's clock minus ours, seconds with one decimal ("-600.0")
  DnsDomain,       // text: the DNS name of the host's domain, where it has one
  RebootPending,   // items: reason ("component-servicing", "windows-update", "file-rename")
  RemoteRegistry,  // item: state, start type, by name ("stopped", "disabled")
  DomainService,   // items: name, display name, account, start type, state
  LocalAdmin,      // items: SID, name, domain, kind ("user", "group", "alias", ...)
  Profile,         // items: SID, name, domain
};

class FindingsSink {
 public:
  virtual ~FindingsSink() = default;
  // Every line the run writes, without its line end, as it writes it.
  virtual void Line(std::string_view line) = 0;
  // Text is the core's 8-bit text, as the host gave it (not made printable).
  virtual void Text(Fact fact, std::string_view value) = 0;
  virtual void Number(Fact fact, std::uint64_t value) = 0;
  virtual void Flag(Fact fact, bool value) = 0;
  // A platform call that failed, by the name of the Win32 call it stands for,
  // with the status it returned.
  virtual void FailedCall(std::string_view call, std::int64_t status) = 0;
  // Whether the run should also read the OS detail values, over the registry
  // connection it holds anyway. The single tool does not: its calls stay
  // exactly those its checks need.
  virtual bool WantsOsDetails() const { return false; }
  // Whether the run should, after its calls, ask the platform what its SMB
  // connection to the host negotiated. The single tool does not.
  virtual bool WantsSmbFacts() const { return false; }
  // Whether the run should, after its checks, ask what a move to another
  // domain trips over (clock, pending reboot, services, administrators,
  // profiles). The single tool does not: its calls and lines stay its own.
  virtual bool WantsMoveFacts() const { return false; }
  // One item of a list fact (text fields in the list's order, the core's
  // 8-bit text); no fields: the list was read.
  virtual void Item(Fact, std::initializer_list<std::string_view>) {}
  // The checks are over and ended with this code; what follows is beyond
  // them and never changes it.
  virtual void Checked(std::uint16_t) {}
};

// For a run nobody records.
class NoFindings final : public FindingsSink {
 public:
  void Line(std::string_view) override {}
  void Text(Fact, std::string_view) override {}
  void Number(Fact, std::uint64_t) override {}
  void Flag(Fact, bool) override {}
  void FailedCall(std::string_view, std::int64_t) override {}
};

}  // namespace quorvex
