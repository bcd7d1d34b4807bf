// The fleet report: one self-contained HTML page of a sweep's records.
//
// Everything the page needs is inside it (style, script, SVG charts), and its
// content security policy forbids every request, so it opens the same from a
// mail attachment, a share or a disconnected laptop. Host data is untrusted:
// aggregates are escaped into the page, and the per-host data travels as JSON
// in an inert script element that the page's script turns into text nodes.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "records/host_record.h"
#include "report/compare.h"
#include "report/merge.h"

namespace quorvex::report {

struct ReportInput {
  const std::vector<HostRecord>* Records = nullptr;
  // The older sweep for the "what changed" section and column, or null.
  const std::vector<HostRecord>* Older = nullptr;
  std::string SourceName;  // shown in the heading: the records files, or "" for a live sweep
  std::string OlderName;
  // How Records and Older were merged from their files, or null: with
  // several files the page lists the records a later check superseded.
  const MergedRecords* Merged = nullptr;
  const MergedRecords* MergedOlder = nullptr;
};

// The page, written as it is made: a large fleet's page is never held whole.
void WriteHtml(std::ostream& out, const ReportInput& input);
std::string RenderHtml(const ReportInput& input);

// The counts of the tiles, shared by the page and its tests.
struct Tiles {
  std::size_t Checked = 0, Ready = 0, NotReady = 0, Unreachable = 0, TimedOut = 0;
};
Tiles CountTiles(const std::vector<HostRecord>& records);

// A row of the table of sites, in the page's order: by name, ASCII case
// folded, the hosts recorded without a site (Site null) last. No row at all
// when no record has a site.
struct SiteRow {
  std::optional<std::string> Site;
  std::size_t Hosts = 0, Ready = 0, NotReady = 0, Unreachable = 0, Blocked = 0;
};
std::vector<SiteRow> CountSites(const std::vector<HostRecord>& records);


}  // namespace quorvex::report
