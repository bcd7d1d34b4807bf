#include "report/compare.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <unordered_map>

#include "core/exit_codes.h"
#include "records/host_key.h"
#include "records/os_family.h"

namespace quorvex::report {
namespace {

using records::HostKey;

bool Ready(const HostRecord& r) { return r.ExitCode == 0; }

std::vector<std::string> WhyNotReady(const HostRecord& r) {
  std::vector<std::string> parts;
  auto code = static_cast<std::uint16_t>(r.ExitCode < 0 || r.ExitCode > 255 ? 255 : r.ExitCode);
  for (std::string_view name : FailureNames(code)) parts.emplace_back(name);
  if (r.TimedOut) parts.emplace_back("timed-out");
  if (r.Crashed) parts.emplace_back("crashed");
  return parts;
}

// Records keyed by host; a later record of the same host wins, as on resume.
std::unordered_map<std::string, const HostRecord*> Index(const std::vector<HostRecord>& records) {
  std::unordered_map<std::string, const HostRecord*> index;
  for (const HostRecord& r : records) index[HostKey(r.Host)] = &r;
  return index;
}

// The names of `from` that `without` lacks.
std::vector<std::string> Missing(const std::vector<std::string>& from, const std::vector<std::string>& without) {
  std::vector<std::string> names;
  for (const std::string& name : from) {
    if (std::find(without.begin(), without.end(), name) == without.end()) names.push_back(name);
  }
  return names;
}

std::string KnownFamily(const HostRecord& r) {
  std::string family = FamilyOf(r);
  return family == UnknownFamily ? "" : family;
}

}  // namespace

std::string FamilyOf(const HostRecord& record) {
  if (record.Os.Family && !record.Os.Family->empty()) return *record.Os.Family;
  std::optional<std::string> derived = records::OsFamily(record.Os, record.ProductType, record.OsVersion);
  return derived && !derived->empty() ? *derived : UnknownFamily;
}

std::string BuildText(const HostRecord& record) {
  if (!record.Os.CurrentBuildNumber || record.Os.CurrentBuildNumber->empty()) return "";
  std::string text = *record.Os.CurrentBuildNumber;
  if (record.Os.UBR) text += "." + std::to_string(*record.Os.UBR);
  return text;
}

Comparison Compare(const std::vector<HostRecord>& older, const std::vector<HostRecord>& newer) {
  Comparison result;
  auto olderIndex = Index(older);
  auto newerIndex = Index(newer);
  std::unordered_map<std::string, bool> seen;
  for (const HostRecord& now : newer) {
    std::string key = HostKey(now.Host);
    if (newerIndex[key] != &now || seen[key]) continue;  // only the host's last record counts
    seen[key] = true;
    auto found = olderIndex.find(key);
    if (found == olderIndex.end()) {
      result.New.push_back(now.Host);
      continue;
    }
    const HostRecord& before = *found->second;
    if (Ready(now) && !Ready(before)) result.BecameReady.push_back(now.Host);
    if (!Ready(now) && Ready(before)) result.StoppedBeingReady.push_back({now.Host, WhyNotReady(now)});

    std::string oldFamily = KnownFamily(before), newFamily = KnownFamily(now);
    std::string oldBuild = BuildText(before), newBuild = BuildText(now);
    bool familyChanged = !oldFamily.empty() && !newFamily.empty() && oldFamily != newFamily;
    // A new UBR is a monthly patch, not another build; it shows but does not count.
    std::string oldNumber = before.Os.CurrentBuildNumber.value_or("");
    std::string newNumber = now.Os.CurrentBuildNumber.value_or("");
    bool buildChanged = !oldNumber.empty() && !newNumber.empty() && oldNumber != newNumber;
    if (familyChanged || buildChanged) {
      result.OsChanged.push_back({now.Host, oldFamily, newFamily, oldBuild, newBuild});
    }

    if (before.Move.Blockers && now.Move.Blockers) {
      std::vector<std::string> appeared = Missing(*now.Move.Blockers, *before.Move.Blockers);
      std::vector<std::string> cleared = Missing(*before.Move.Blockers, *now.Move.Blockers);
      if (!appeared.empty()) result.BlockersAppeared.push_back({now.Host, std::move(appeared)});
      if (!cleared.empty()) result.BlockersCleared.push_back({now.Host, std::move(cleared)});
    }
  }
  std::unordered_map<std::string, bool> gone;
  for (const HostRecord& before : older) {
    std::string key = HostKey(before.Host);
    if (newerIndex.count(key) || gone[key]) continue;
    gone[key] = true;
    result.NoLongerListed.push_back(before.Host);
  }
  return result;
}

std::vector<std::string> ChangeLabels(const Comparison& comparison, const std::vector<HostRecord>& newer) {
  std::unordered_map<std::string, std::string> labels;
  // Later assignments win: readiness says more than what stands in the way of
  // the move, and that more than an OS update; a blocker to mend more than one
  // mended.
  for (const OsChange& c : comparison.OsChanged) labels[HostKey(c.Host)] = "OS changed";
  for (const BlockerChange& c : comparison.BlockersCleared) labels[HostKey(c.Host)] = "blockers cleared";
  for (const BlockerChange& c : comparison.BlockersAppeared) labels[HostKey(c.Host)] = "blockers appeared";
  for (const std::string& h : comparison.New) labels[HostKey(h)] = "new";
  for (const std::string& h : comparison.BecameReady) labels[HostKey(h)] = "became ready";
  for (const StoppedReady& s : comparison.StoppedBeingReady) {
    labels[HostKey(s.Host)] = "stopped being ready";
  }
  std::vector<std::string> result;
  result.reserve(newer.size());
  for (const HostRecord& r : newer) {
    auto found = labels.find(HostKey(r.Host));
    result.push_back(found == labels.end() ? "" : found->second);
  }
  return result;
}

std::string PrintableText(const std::string& text) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string FormatComparison(const Comparison& c) {
  std::string out;
  auto line = [&out](const std::string& text) { out += text + "\n"; };
  line("Changes: " + std::to_string(c.BecameReady.size()) + " became ready, " +
       std::to_string(c.StoppedBeingReady.size()) + " stopped being ready, " + std::to_string(c.New.size()) + " new, " +
       std::to_string(c.NoLongerListed.size()) + " no longer listed, " + std::to_string(c.OsChanged.size()) +
       " changed OS, " + std::to_string(c.BlockersAppeared.size()) + " gained blockers, " +
       std::to_string(c.BlockersCleared.size()) + " cleared blockers");
  for (const std::string& h : c.BecameReady) line("became ready: " + PrintableText(h));
  for (const StoppedReady& s : c.StoppedBeingReady) {
    std::string why;
    for (const std::string& p : s.Parts) why += (why.empty() ? "" : " ") + p;
    line("stopped being ready: " + PrintableText(s.Host) + " (" + why + ")");
  }
  for (const std::string& h : c.New) line("new: " + PrintableText(h));
  for (const std::string& h : c.NoLongerListed) line("no longer listed: " + PrintableText(h));
  auto os = [](const std::string& family, const std::string& build) {
    std::string text = family.empty() ? "unknown" : family;
    if (!build.empty()) text += " (" + build + ")";
    return PrintableText(text);
  };
  for (const OsChange& o : c.OsChanged) {
    line("OS changed: " + PrintableText(o.Host) + ": " + os(o.OldFamily, o.OldBuild) + " -> " +
         os(o.NewFamily, o.NewBuild));
  }
  auto blockers = [&line](const char* what, const std::vector<BlockerChange>& changes) {
    for (const BlockerChange& b : changes) {
      std::string names;
      for (const std::string& n : b.Names) names += (names.empty() ? "" : ", ") + n;
      line(std::string(what) + ": " + PrintableText(b.Host) + " (" + PrintableText(names) + ")");
    }
  };
  blockers("blockers appeared", c.BlockersAppeared);
  blockers("blockers cleared", c.BlockersCleared);
  return out;
}

}  // namespace quorvex::report
