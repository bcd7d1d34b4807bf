#include "netinfo/identity_checks.h"

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/exit_codes.h"
#include "core/text.h"

namespace quorvex {

namespace {

// Domains are NetBIOS names; anything past this length is not compared.
constexpr std::size_t ComparedDomainLength = 15;
constexpr char DomainTitleHeading[] = ": Checking current domain...";

constexpr char NameMatchesLine[] = " + NetBIOS name matches.";
constexpr char NameMismatchPrefix[] = " - NetBIOS name does NOT match. Returned: ";
constexpr char IgnoredNameMatchesLine[] = " ! NetBIOS name matches.";
constexpr char IgnoredNameMismatchPrefix[] = " ! NetBIOS name does not match. Returned: ";
constexpr char AlreadyMigratedPrefix[] = " - Host is already in the ";
constexpr char AlreadyMigratedSuffix[] = " domain.";
constexpr char WrongDomainPrefix[] = " - Host is in the ";
constexpr char WrongDomainMiddle[] = " domain (NOT ";
constexpr char WrongDomainSuffix[] = " as expected).";
constexpr char InDomainPrefix[] = " + Host in domain: ";

// What the host reports is compared as received; only printing makes it safe.
std::string RecordText(RunEnv& env, const char16_t* text) {
  return UpperCaseText(TrimSpaces(WideToAnsi(env.System.Net, text)));
}

}  // namespace

Verdict CheckNetBiosName(RunEnv& env, const RunSettings& settings, const HostIdentity& identity,
                         const NetInfoRecords& records) {
  const std::string returned = RecordText(env, records.Workstation->Info.ComputerName);
  if (settings.IgnoreNameMismatch) {
    if (settings.Verbose) {
      env.Out.PrintStatus(returned == identity.HostName ? std::string(IgnoredNameMatchesLine)
                                                        : IgnoredNameMismatchPrefix + Printable(returned));
    }
    return Verdict::GoOn();
  }
  if (returned == identity.HostName || returned == identity.NetBiosName) {
    env.Out.PrintStatus(NameMatchesLine);
    return Verdict::GoOn();
  }
  env.Out.PrintStatus(NameMismatchPrefix + Printable(returned));
  return Verdict::End(ExitCode::NameMismatch);
}

Verdict CheckDomain(RunEnv& env, const RunSettings& settings, const HostIdentity& identity,
                    const NetInfoRecords& records) {
  env.Out.ShowStageTitle(identity.HostName, DomainTitleHeading);
  const std::string domain = RecordText(env, records.Workstation->Info.LanGroup);
  const std::string compared = domain.substr(0, ComparedDomainLength);

  if (!settings.TargetDomain.empty() && compared == settings.TargetDomain) {
    env.Out.PrintStatus(AlreadyMigratedPrefix + settings.TargetDomain + AlreadyMigratedSuffix);
    return Verdict::End(ExitCode::WrongDomain);
  }
  if (!settings.CurrentDomain.empty() && compared != settings.CurrentDomain) {
    env.Out.PrintStatus(WrongDomainPrefix + Printable(domain) + WrongDomainMiddle + settings.CurrentDomain +
                        WrongDomainSuffix);
    return Verdict::End(ExitCode::WrongDomain);
  }
  env.Out.PrintStatus(InDomainPrefix + Printable(domain));
  return Verdict::GoOn();
}

}  // namespace quorvex
