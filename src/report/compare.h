// What changed between two sweeps of a fleet, from their records alone.
//
// Hosts are matched by the text they were listed as, ignoring ASCII case, the
// way the sweep finds duplicates. Free space drifts between any two sweeps and
// is never reported as a change; an OS fact that one of the two sweeps did not
// learn is unknown, not changed, and so are blockers: a record without them
// (an older sweep's, or a host that never answered) changes none.
#pragma once

#include <string>
#include <vector>

#include "records/host_record.h"

namespace quorvex::report {

using records::HostRecord;

struct StoppedReady {
  std::string Host;
  std::vector<std::string> Parts;  // why, as the record's failure names (plus "timed-out")
};

struct OsChange {
  std::string Host;
  std::string OldFamily, NewFamily;  // "" where a sweep did not learn it
  std::string OldBuild, NewBuild;    // "19045.3803"
};

// Blockers a host gained, or lost, between the two sweeps.
struct BlockerChange {
  std::string Host;
  std::vector<std::string> Names;  // in the order its record lists them
};

struct Comparison {
  std::vector<std::string> BecameReady;
  std::vector<StoppedReady> StoppedBeingReady;
  std::vector<std::string> New;
  std::vector<std::string> NoLongerListed;
  std::vector<OsChange> OsChanged;
  // A host can be in both: one blocker mended while another appeared.
  std::vector<BlockerChange> BlockersAppeared;
  std::vector<BlockerChange> BlockersCleared;
};

// Lists follow the newer sweep's order (NoLongerListed the older one's).
Comparison Compare(const std::vector<HostRecord>& older, const std::vector<HostRecord>& newer);

// The family a record is charted, filtered and compared under: the one its
// sweep derived, else one derived from the older registry texts it holds
// (CurrentVersion and ProductType), else "unknown".
std::string FamilyOf(const HostRecord& record);
inline constexpr const char* UnknownFamily = "unknown";

// "19045.3803", "19045" without a UBR, "" when the build is unknown.
std::string BuildText(const HostRecord& record);

// The change one host of the newer sweep shows in the report's column: "became
// ready", "stopped being ready", "new", "blockers appeared", "blockers
// cleared", "OS changed", or "" for none; the first of these that holds.
// One label per record of `newer`, in its order.
std::vector<std::string> ChangeLabels(const Comparison& comparison, const std::vector<HostRecord>& newer);

// The comparison as plain text for standard output; host texts have their
// control characters escaped so a hostile name cannot drive the terminal.
std::string FormatComparison(const Comparison& comparison);

// Bytes below 0x20 and DEL shown as \xNN.
std::string PrintableText(const std::string& text);

}  // namespace quorvex::report
