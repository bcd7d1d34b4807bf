#include "report/html_report.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string_view>

#include "core/exit_codes.h"
#include "records/blockers.h"
#include "report/page_assets.h"
#include "report/page_data.h"

namespace quorvex::report {
namespace {

// Text into HTML text or a quoted attribute. C0 controls other than tab and
// line feed, and DEL, become their visible symbols (U+2400 on), as the
// page's script shows them in the table; the HTML parser would otherwise drop
// or mangle them.
std::string Escape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    switch (ch) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7f) {
          out += "\xE2\x90";
          out += static_cast<char>(c == 0x7f ? 0xA1 : 0x80 + c);
        } else {
          out += ch;
        }
    }
  }
  return out;
}

// At most `limit` characters (not bytes) of UTF-8 text, with an ellipsis.
std::string Shorten(const std::string& text, std::size_t limit) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (++chars > limit) return text.substr(0, i) + "\xE2\x80\xA6";
  }
  return text;
}

std::string Nonce() {
  std::random_device device;
  static const char hex[] = "0123456789abcdef";
  std::string nonce;
  for (int i = 0; i < 4; ++i) {
    std::uint32_t v = device();
    for (int j = 0; j < 8; ++j, v >>= 4) nonce += hex[v & 15];
  }
  return nonce;
}

std::vector<std::string> PartsOf(const HostRecord& r) {
  std::vector<std::string> parts;
  auto code = static_cast<std::uint16_t>(r.ExitCode < 0 || r.ExitCode > 255 ? 255 : r.ExitCode);
  for (std::string_view name : FailureNames(code)) parts.emplace_back(name);
  return parts;
}

struct Bar {
  std::string Label;
  std::size_t Count = 0;
  std::string Filter;          // "part", "family", "blocker", "blocker-unknown", "" for none
  std::string Value;           // the filter's value
  std::string_view Note = {};  // said when the pointer rests on the bar
};

// A horizontal bar chart; bars that name a filter set it when clicked.
std::string BarChart(const std::string& id, const std::string& title, const std::vector<Bar>& bars) {
  const int rowHeight = 22, labelWidth = 170, barWidth = 250, width = 480;
  std::size_t most = 1;
  for (const Bar& b : bars) most = std::max(most, b.Count);
  int height = std::max<int>(1, static_cast<int>(bars.size())) * rowHeight + 4;
  std::string svg = "<figure class=\"chart\" id=\"" + id + "\"><figcaption>" + Escape(title) +
                    "</figcaption><svg role=\"img\" aria-label=\"" + Escape(title) + "\" viewBox=\"0 0 " +
                    std::to_string(width) + " " + std::to_string(height) +
                    "\" width=\"100%\" preserveAspectRatio=\"xMinYMin meet\">";
  if (bars.empty()) {
    svg += "<text x=\"0\" y=\"16\" class=\"muted\">none</text>";
  }
  int y = 2;
  for (const Bar& b : bars) {
    int w = b.Count ? std::max(2, static_cast<int>(b.Count * barWidth / most)) : 0;
    svg += "<g class=\"bar";
    if (!b.Filter.empty()) svg += " link\" data-filter=\"" + b.Filter + "\" data-value=\"" + Escape(b.Value);
    svg += "\"><title>" + Escape(b.Label) + ": " + std::to_string(b.Count) +
           (b.Note.empty() ? "" : " \xE2\x80\x94 " + Escape(b.Note)) + "</title>";
    svg += "<text x=\"" + std::to_string(labelWidth - 6) + "\" y=\"" + std::to_string(y + 15) +
           "\" text-anchor=\"end\">" + Escape(Shorten(b.Label, 24)) + "</text>";
    svg += "<rect x=\"" + std::to_string(labelWidth) + "\" y=\"" + std::to_string(y + 3) + "\" width=\"" +
           std::to_string(w) + "\" height=\"" + std::to_string(rowHeight - 6) + "\" rx=\"2\"/>";
    svg += "<text x=\"" + std::to_string(labelWidth + w + 5) + "\" y=\"" + std::to_string(y + 15) + "\">" +
           std::to_string(b.Count) + "</text></g>";
    y += rowHeight;
  }
  return svg + "</svg></figure>";
}

std::vector<Bar> FailureBars(const std::vector<HostRecord>& records) {
  std::map<std::string, std::size_t> counts;
  for (const HostRecord& r : records) {
    for (const std::string& p : PartsOf(r)) ++counts[p];
  }
  std::vector<Bar> bars;
  for (const ExitCodeRow& row : ExitCodeTable) {
    std::string name(row.Name);
    bars.push_back({name, counts[name], "part", name});
  }
  for (std::string_view name : {UsageName, InvalidName}) {
    auto found = counts.find(std::string(name));
    if (found != counts.end()) bars.push_back({found->first, found->second, "part", found->first});
  }
  return bars;
}

// A host counts once per blocker, however often its record names it.
std::vector<Bar> BlockerBars(const std::vector<HostRecord>& records) {
  std::map<std::string, std::size_t> counts;
  Bar unknown{"not checked", 0, "blocker-unknown", ""};
  for (const HostRecord& r : records) {
    if (!r.Move.Blockers) {
      ++unknown.Count;
      continue;
    }
    for (const std::string& name : std::set<std::string>(r.Move.Blockers->begin(), r.Move.Blockers->end())) {
      ++counts[name];
    }
  }
  std::vector<Bar> bars;
  for (const records::BlockerRow& row : records::BlockerTable) {
    std::string name(row.Name);
    bars.push_back({name, counts[name], "blocker", name, row.Meaning});
  }
  bars.push_back(unknown);
  return bars;
}

std::vector<Bar> FamilyBars(const std::vector<HostRecord>& records) {
  std::map<std::string, std::size_t> counts;
  for (const HostRecord& r : records) ++counts[FamilyOf(r)];
  std::vector<Bar> bars;
  for (const auto& [family, count] : counts) bars.push_back({family, count, "family", family});
  std::stable_sort(bars.begin(), bars.end(), [](const Bar& a, const Bar& b) { return a.Count > b.Count; });
  const std::size_t shown = 12;
  if (bars.size() > shown) {
    Bar other{"other (" + std::to_string(bars.size() - shown + 1) + " families)", 0, "", ""};
    for (std::size_t i = shown - 1; i < bars.size(); ++i) other.Count += bars[i].Count;
    bars.resize(shown - 1);
    bars.push_back(other);
  }
  return bars;
}

std::vector<Bar> FreeSpaceBars(const std::vector<HostRecord>& records) {
  constexpr std::uint64_t GiB = 1ull << 30;
  struct Bucket {
    const char* Label;
    std::uint64_t Below;
  };
  static const Bucket buckets[] = {
      {"under 1 GiB", 1 * GiB},       {"1-5 GiB", 5 * GiB},       {"5-10 GiB", 10 * GiB},
      {"10-20 GiB", 20 * GiB},        {"20-50 GiB", 50 * GiB},    {"50-100 GiB", 100 * GiB},
      {"100-200 GiB", 200 * GiB},     {"200-500 GiB", 500 * GiB}, {"500 GiB-1 TiB", 1024 * GiB},
      {"1 TiB and more", UINT64_MAX},
  };
  std::vector<Bar> bars;
  for (const Bucket& b : buckets) bars.push_back({b.Label, 0, "", ""});
  Bar unmeasured{"not measured", 0, "", ""};
  for (const HostRecord& r : records) {
    if (!r.FreeBytes) {
      ++unmeasured.Count;
      continue;
    }
    for (std::size_t i = 0; i < std::size(buckets); ++i) {
      if (*r.FreeBytes < buckets[i].Below || i + 1 == std::size(buckets)) {
        ++bars[i].Count;
        break;
      }
    }
  }
  bars.push_back(unmeasured);
  return bars;
}

std::string Tile(const std::string& key, const std::string& label, std::size_t value) {
  return "<div class=\"tile " + key + "\" data-tile=\"" + key + "\"><span class=\"value\">" + std::to_string(value) +
         "</span><span class=\"label\">" + label + "</span></div>";
}

// One list of the changes section, cut short on a page meant to be read: the
// table's change column holds every host.
std::string ChangeList(const std::string& key, const std::string& title, const std::vector<std::string>& items,
                       const char* attribute = "data-change") {
  const std::size_t shown = SupersededShown;  // every list of the page stops at the same length
  std::string html = "<details class=\"changes\" " + std::string(attribute) + "=\"" + key + "\"" +
                     (items.empty() ? "" : " open") + "><summary>" + title + ": <b>" + std::to_string(items.size()) +
                     "</b></summary>";
  if (!items.empty()) {
    html += "<ul>";
    for (std::size_t i = 0; i < items.size() && i < shown; ++i) html += "<li>" + Escape(items[i]) + "</li>";
    if (items.size() > shown) html += "<li class=\"muted\">and " + std::to_string(items.size() - shown) + " more</li>";
    html += "</ul>";
  }
  return html + "</details>";
}

std::string ChangesSection(const Comparison& c, const std::string& olderName) {
  std::vector<std::string> stopped, os, appeared, cleared;
  auto blockers = [](const std::vector<BlockerChange>& changes, std::vector<std::string>& items) {
    for (const BlockerChange& b : changes) {
      std::string names;
      for (const std::string& n : b.Names) names += (names.empty() ? "" : ", ") + n;
      items.push_back(b.Host + " \xE2\x80\x94 " + names);
    }
  };
  blockers(c.BlockersAppeared, appeared);
  blockers(c.BlockersCleared, cleared);
  for (const StoppedReady& s : c.StoppedBeingReady) {
    std::string why;
    for (const std::string& p : s.Parts) why += (why.empty() ? "" : ", ") + p;
    stopped.push_back(s.Host + " \xE2\x80\x94 " + why);
  }
  for (const OsChange& o : c.OsChanged) {
    auto side = [](const std::string& family, const std::string& build) {
      std::string text = family.empty() ? "unknown" : family;
      return build.empty() ? text : text + " (" + build + ")";
    };
    os.push_back(o.Host + ": " + side(o.OldFamily, o.OldBuild) + " \xE2\x86\x92 " + side(o.NewFamily, o.NewBuild));
  }
  std::string html = "<section id=\"changes\"><h2>What changed since " +
                     Escape(olderName.empty() ? std::string("the older sweep") : olderName) + "</h2>";
  html += ChangeList("became-ready", "Became ready", c.BecameReady);
  html += ChangeList("stopped-being-ready", "Stopped being ready", stopped);
  html += ChangeList("new", "New to the list", c.New);
  html += ChangeList("no-longer-listed", "No longer listed", c.NoLongerListed);
  html += ChangeList("os-changed", "OS family or build changed", os);
  html += ChangeList("blockers-appeared", "Blockers appeared", appeared);
  html += ChangeList("blockers-cleared", "Blockers cleared", cleared);
  return html + "</section>";
}

// The table of sites, each row filtering the hosts table to its site (the
// page's script knows the sites by the index data-site holds).
struct SiteColumn {
  const char* Key;
  const char* Title;
  std::size_t SiteRow::*Count;
};
constexpr SiteColumn SiteColumns[] = {
    {"hosts", "Hosts", &SiteRow::Hosts},
    {"ready", "Ready", &SiteRow::Ready},
    {"not-ready", "Not ready", &SiteRow::NotReady},
    {"unreachable", "Unreachable", &SiteRow::Unreachable},
    {"blocked", "Hosts with blockers", &SiteRow::Blocked},
};
constexpr const char* NoSite = "(no site)";

std::string SitesSection(const std::vector<SiteRow>& rows) {
  std::string html =
      "<section id=\"sites\"><h2>Sites</h2><div class=\"table-wrap\"><table id=\"site-table\"><thead><tr>"
      "<th scope=\"col\">Site</th>";
  for (const SiteColumn& column : SiteColumns)
    html += "<th class=\"num\" scope=\"col\">" + std::string(column.Title) + "</th>";
  html += "</tr></thead><tbody>";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const SiteRow& row = rows[i];
    html += "<tr class=\"site-row\" tabindex=\"0\" data-site=\"" + std::to_string(i) +
            "\" title=\"Show the hosts of this site\"><th scope=\"row\"" +
            (row.Site ? ">" + Escape(*row.Site) : " class=\"muted\">" + std::string(NoSite)) + "</th>";
    for (const SiteColumn& column : SiteColumns) {
      html += "<td class=\"num\" data-count=\"" + std::string(column.Key) + "\">" + std::to_string(row.*column.Count) +
              "</td>";
    }
    html += "</tr>";
  }
  return html + "</tbody></table></div></section>";
}

// Which records a later check of the same host superseded, when the page
// was made from several files.
std::string MergeSection(const MergedRecords* merged, const MergedRecords* older) {
  std::string html;
  auto list = [&html](const MergedRecords* m, const char* key, const std::string& what) {
    if (!m || m->Files < 2) return;
    std::vector<std::string> items;
    for (const SupersededRecord& s : m->Superseded) {
      items.push_back(s.Host + " \xE2\x80\x94 " + s.DroppedFile + " (" + s.DroppedCheckedAt + "), kept " + s.KeptFile +
                      " (" + s.KeptCheckedAt + ")");
    }
    html += ChangeList(key,
                       std::to_string(m->Files) + " " + what + ", records superseded by a later check of the same host",
                       items, "data-merge");
  };
  list(merged, "records", "records files");
  list(older, "older", "older records files");
  return html.empty() ? html : "<section id=\"merged\"><h2>Records merged</h2>" + html + "</section>";
}

}  // namespace

std::vector<SiteRow> CountSites(const std::vector<HostRecord>& records) {
  std::map<std::string, SiteRow> named;
  SiteRow unnamed;
  for (const HostRecord& r : records) {
    SiteRow& row = r.Site ? named[*r.Site] : unnamed;
    ++row.Hosts;
    ++(r.ExitCode == ExitCode::Success ? row.Ready : row.NotReady);
    if (records::Unreachable(r)) ++row.Unreachable;
    if (r.Move.Blockers && !r.Move.Blockers->empty()) ++row.Blocked;
  }
  std::vector<SiteRow> rows;
  if (named.empty()) return rows;
  for (auto& [site, row] : named) {
    row.Site = site;
    rows.push_back(row);
  }
  // Alphabetical as a reader expects it: "lyon" beside "Lyon", not after "Zurich".
  auto folded = [](std::string text) {
    for (char& c : text) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
  };
  std::stable_sort(rows.begin(), rows.end(),
                   [&folded](const SiteRow& a, const SiteRow& b) { return folded(*a.Site) < folded(*b.Site); });
  if (unnamed.Hosts != 0) rows.push_back(unnamed);
  return rows;
}

Tiles CountTiles(const std::vector<HostRecord>& records) {
  Tiles t;
  for (const HostRecord& r : records) {
    ++t.Checked;
    if (r.ExitCode == ExitCode::Success) {
      ++t.Ready;
    } else {
      ++t.NotReady;
    }
    if (records::Unreachable(r)) ++t.Unreachable;
    if (r.TimedOut) ++t.TimedOut;
  }
  return t;
}

void WriteHtml(std::ostream& out, const ReportInput& input) {
  static const std::vector<HostRecord> none;
  const std::vector<HostRecord>& records = input.Records ? *input.Records : none;

  std::vector<std::string> changes(records.size());
  std::string changesHtml;
  if (input.Older) {
    Comparison comparison = Compare(*input.Older, records);
    changes = ChangeLabels(comparison, records);
    changesHtml = ChangesSection(comparison, input.OlderName);
  }

  std::string first, last;
  for (const HostRecord& r : records) {
    if (r.CheckedAt.empty()) continue;
    if (first.empty() || r.CheckedAt < first) first = r.CheckedAt;
    if (last.empty() || r.CheckedAt > last) last = r.CheckedAt;
  }

  // The sites in the order of the table of sites, whose rows name them by index.
  const std::vector<SiteRow> sites = CountSites(records);

  std::string nonce = Nonce();
  Tiles t = CountTiles(records);
  std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">";
  html +=
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'unsafe-inline'; img-src data:; script-src 'nonce-" +
      nonce + "'\">";
  html += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">";
  html += "<title>Fleet report" + (input.SourceName.empty() ? "" : " \xE2\x80\x94 " + Escape(input.SourceName)) +
          "</title><style>";
  html += PageStyle;
  html += "</style></head><body><header><h1>Fleet readiness</h1><p class=\"muted\">";
  if (!input.SourceName.empty()) html += Escape(input.SourceName) + " \xC2\xB7 ";
  html += std::to_string(records.size()) + " hosts";
  if (!first.empty()) html += " \xC2\xB7 checked " + Escape(first) + (first == last ? "" : " to " + Escape(last));
  html += "</p></header><main>";

  html += "<section class=\"tiles\" aria-label=\"Counts\">";
  html += Tile("checked", "hosts checked", t.Checked);
  html += Tile("ready", "ready", t.Ready);
  html += Tile("not-ready", "not ready", t.NotReady);
  html += Tile("unreachable", "unreachable", t.Unreachable);
  html += Tile("timed-out", "timed out", t.TimedOut);
  html += "</section>";

  if (!sites.empty()) html += SitesSection(sites);
  html += MergeSection(input.Merged, input.MergedOlder);

  html += "<section class=\"charts\">";
  html += BarChart("chart-parts", "Why hosts are not ready (hosts per failed part)", FailureBars(records));
  html += BarChart("chart-blockers", "Before the move (hosts per blocker)", BlockerBars(records));
  html += BarChart("chart-families", "OS families", FamilyBars(records));
  html += BarChart("chart-free", "Free space of admin$", FreeSpaceBars(records));
  html += "</section>";

  html += changesHtml;

  html +=
      "<section id=\"hosts-section\"><h2>Hosts</h2>"
      "<div class=\"controls\" role=\"search\">"
      "<label>Search <input id=\"f-text\" type=\"search\" placeholder=\"host, address, domain, OS\"></label>";
  if (!sites.empty()) html += "<label>Site <select id=\"f-site\"><option value=\"\">any</option></select></label>";
  html +=
      "<label>Failed part <select id=\"f-part\"><option value=\"\">any</option></select></label>"
      "<label>Blockers <select id=\"f-blocker\"><option value=\"\">any</option></select></label>"
      "<label>OS family <select id=\"f-family\"><option value=\"\">any</option></select></label>"
      "<label>Domain <select id=\"f-domain\"><option value=\"\">any</option></select></label>";
  if (input.Older) {
    html += "<label>Change <select id=\"f-change\"><option value=\"\">any</option></select></label>";
  }
  html +=
      "<button id=\"f-clear\" type=\"button\">Clear</button></div>"
      "<p id=\"count\" class=\"muted\" aria-live=\"polite\"></p>"
      "<div class=\"table-wrap\"><table id=\"hosts\"><thead><tr></tr></thead><tbody></tbody></table></div>"
      "<nav class=\"pager\"><button id=\"p-prev\" type=\"button\">Previous</button>"
      "<span id=\"p-info\"></span><button id=\"p-next\" type=\"button\">Next</button>"
      "<label>Rows per page <select id=\"p-size\"><option>50</option><option selected>100</option>"
      "<option>500</option></select></label></nav>"
      "<noscript><p>The host table needs JavaScript; the counts and charts above do not.</p></noscript>"
      "</section></main>";

  html += "<script type=\"application/json\" id=\"qvx-data\">";
  out << html;
  // Streamed: a large fleet's data is most of the page, and is never held whole.
  std::vector<std::optional<std::string>> siteNames;
  for (const SiteRow& row : sites) siteNames.push_back(row.Site);
  WritePageData(out, records, changes, input.Older != nullptr, siteNames);
  out << "</script><script nonce=\"" << nonce << "\">" << PageScript << "</script></body></html>\n";
}

std::string RenderHtml(const ReportInput& input) {
  std::ostringstream out;
  WriteHtml(out, input);
  return out.str();
}

}  // namespace quorvex::report
