// The comparison of two sweeps and the parts of the page that carry host
// text: what a reader trusts when deciding what moved since last week.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/encoding.h"
#include "records/blockers.h"
#include "records/record_io.h"
#include "records/records_file.h"
#include "report/compare.h"
#include "report/html_report.h"

namespace quorvex::report {
namespace {

HostRecord Host(const std::string& name, int exitCode, const char* family = nullptr, const char* build = nullptr,
                std::optional<std::uint32_t> ubr = std::nullopt) {
  HostRecord r;
  r.Host = name;
  r.ExitCode = exitCode;
  if (family) r.Os.Family = family;
  if (build) r.Os.CurrentBuildNumber = build;
  r.Os.UBR = ubr;
  return r;
}

TEST(Compare, SortsEveryHostIntoWhatChanged) {
  std::vector<HostRecord> older = {
      Host("fixed", 16),
      Host("broke", 0),
      Host("gone", 0),
      Host("upgraded", 0, "Windows 10 22H2", "19045", 3803),
      Host("patched", 0, "Windows 10 22H2", "19045", 3803),
      Host("went-dark", 0, "Windows 11 23H2", "22631"),
      Host("SameCase", 1),
  };
  HostRecord timedOut = Host("broke", 2);
  timedOut.TimedOut = true;
  std::vector<HostRecord> newer = {
      Host("FIXED", 0),
      timedOut,
      Host("fresh", 176),
      Host("upgraded", 0, "Windows 11 23H2", "22631", 2861),
      Host("patched", 0, "Windows 10 22H2", "19045", 4046),  // a monthly update is no change
      Host("went-dark", 1),                                  // OS unknown now: not a change
      Host("samecase", 1),
  };
  Comparison c = Compare(older, newer);
  EXPECT_EQ(c.BecameReady, std::vector<std::string>{"FIXED"});
  ASSERT_EQ(c.StoppedBeingReady.size(), 2u);
  EXPECT_EQ(c.StoppedBeingReady[0].Host, "broke");
  EXPECT_EQ(c.StoppedBeingReady[0].Parts, (std::vector<std::string>{"no-management", "timed-out"}));
  EXPECT_EQ(c.StoppedBeingReady[1].Host, "went-dark");
  EXPECT_EQ(c.New, std::vector<std::string>{"fresh"});
  EXPECT_EQ(c.NoLongerListed, std::vector<std::string>{"gone"});
  ASSERT_EQ(c.OsChanged.size(), 1u);
  EXPECT_EQ(c.OsChanged[0].Host, "upgraded");
  EXPECT_EQ(c.OsChanged[0].OldBuild, "19045.3803");
  EXPECT_EQ(c.OsChanged[0].NewFamily, "Windows 11 23H2");

  EXPECT_EQ(ChangeLabels(c, newer), (std::vector<std::string>{"became ready", "stopped being ready", "new",
                                                              "OS changed", "", "stopped being ready", ""}));
  EXPECT_EQ(FormatComparison(c),
            "Changes: 1 became ready, 2 stopped being ready, 1 new, 1 no longer listed, 1 changed OS, 0 gained "
            "blockers, 0 cleared blockers\n"
            "became ready: FIXED\n"
            "stopped being ready: broke (no-management timed-out)\n"
            "stopped being ready: went-dark (unreachable)\n"
            "new: fresh\n"
            "no longer listed: gone\n"
            "OS changed: upgraded: Windows 10 22H2 (19045.3803) -> Windows 11 23H2 (22631.2861)\n");
}

TEST(Compare, LaterRecordOfAHostWinsAndHostileNamesPrintInert) {
  std::vector<HostRecord> older = {Host("a", 0), Host("a", 16)};
  std::vector<HostRecord> newer = {Host("a", 0), Host("\x1b]0;pwn\x07x", 0)};
  Comparison c = Compare(older, newer);
  EXPECT_EQ(c.BecameReady, std::vector<std::string>{"a"});
  EXPECT_NE(FormatComparison(c).find("new: \\x1b]0;pwn\\x07x\n"), std::string::npos);
}

// Two weeks of records whose host texts differ only in case, backslashes,
// quotes and spaces: one host each to the sweep, so one host each here.
TEST(Compare, HostsSpelledDifferentlyInTwoRecordsFilesAreTheSameHosts) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("quorvex-keys-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::pair<const char*, const char*> spellings[] = {
      {"PC\xC3\x84", "pc\xC3\xA4"}, {"\\\\PC9", "pc9"}, {"\"pc7\"", "PC7 "}};
  std::ofstream(dir / "week49.jsonl") << records::ToJsonLine(Host(spellings[0].first, 16)) << "\n"
                                      << records::ToJsonLine(Host(spellings[1].first, 0)) << "\n"
                                      << records::ToJsonLine(Host(spellings[2].first, 0)) << "\n";
  std::ofstream(dir / "week50.jsonl") << records::ToJsonLine(Host(spellings[0].second, 0)) << "\n"
                                      << records::ToJsonLine(Host(spellings[1].second, 0)) << "\n"
                                      << records::ToJsonLine(Host(spellings[2].second, 2)) << "\n";
  std::vector<HostRecord> older, newer;
  ASSERT_EQ(records::ReadRecordsFile(dir / "week49.jsonl", older), "");
  ASSERT_EQ(records::ReadRecordsFile(dir / "week50.jsonl", newer), "");
  std::filesystem::remove_all(dir);
  const Comparison c = Compare(older, newer);
  EXPECT_TRUE(c.New.empty());
  EXPECT_TRUE(c.NoLongerListed.empty());
  EXPECT_EQ(c.BecameReady, std::vector<std::string>{"pc\xC3\xA4"});
  ASSERT_EQ(c.StoppedBeingReady.size(), 1u);
  EXPECT_EQ(c.StoppedBeingReady[0].Host, "PC7 ");
}

using Names = std::optional<std::vector<std::string>>;

const Names none = std::vector<std::string>{};

HostRecord Blocked(const std::string& name, Names blockers) {
  HostRecord r = Host(name, 0);
  r.Move.Blockers = std::move(blockers);
  return r;
}

// Only two sweeps that both looked for blockers say one appeared or cleared.
TEST(Compare, BlockersAppearOrClearOnlyBetweenSweepsThatLookedForThem) {
  struct Case {
    const char* Name;
    Names Before, After;
    std::vector<std::string> Appeared, Cleared;
    const char* Label;
  };
  const Case cases[] = {
      {"appeared", none, Names{{"clock", "reboot-pending"}}, {"clock", "reboot-pending"}, {}, "blockers appeared"},
      {"cleared", Names{{"old-domain-admins"}}, none, {}, {"old-domain-admins"}, "blockers cleared"},
      {"one for another",
       Names{{"clock", "old-domain-profiles"}},
       Names{{"old-domain-profiles", "remote-registry"}},
       {"remote-registry"},
       {"clock"},
       "blockers appeared"},
      {"unchanged", Names{{"clock"}}, Names{{"clock"}}, {}, {}, ""},
      {"none both times", none, none, {}, {}, ""},
      {"older sweep without them", std::nullopt, Names{{"clock"}}, {}, {}, ""},
      {"newer record without them", Names{{"clock"}}, std::nullopt, {}, {}, ""},
      {"neither has them", std::nullopt, std::nullopt, {}, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<HostRecord> older = {Blocked("h", c.Before)}, newer = {Blocked("H", c.After)};
    Comparison result = Compare(older, newer);
    ASSERT_EQ(result.BlockersAppeared.size(), c.Appeared.empty() ? 0u : 1u);
    ASSERT_EQ(result.BlockersCleared.size(), c.Cleared.empty() ? 0u : 1u);
    EXPECT_EQ(c.Appeared.empty() ? c.Appeared : result.BlockersAppeared[0].Names, c.Appeared);
    EXPECT_EQ(c.Cleared.empty() ? c.Cleared : result.BlockersCleared[0].Names, c.Cleared);
    EXPECT_EQ(ChangeLabels(result, newer), std::vector<std::string>{c.Label});
  }
}

TEST(Compare, BlockerChangesPrintAfterTheOthersAndYieldToReadinessInTheColumn) {
  HostRecord broke = Blocked("broke", Names{{"clock"}});
  broke.ExitCode = 16;
  HostRecord upgraded = Blocked("upgraded", Names{{"old-domain-admins"}});
  upgraded.Os.CurrentBuildNumber = "22631";
  HostRecord upgradedBefore = Blocked("upgraded", none);
  upgradedBefore.Os.CurrentBuildNumber = "19045";
  std::vector<HostRecord> older = {Blocked("broke", none), upgradedBefore,
                                   Blocked("mended", Names{{"old-domain-services", "clock\x07"}}),
                                   Blocked("fresh\x1b", std::nullopt)};
  std::vector<HostRecord> newer = {broke, upgraded, Blocked("mended", none), Blocked("fresh\x1b", Names{{"clock"}}),
                                   Blocked("new", Names{{"clock"}})};
  Comparison c = Compare(older, newer);
  EXPECT_EQ(ChangeLabels(c, newer),
            (std::vector<std::string>{"stopped being ready", "blockers appeared", "blockers cleared", "", "new"}));
  EXPECT_EQ(FormatComparison(c),
            "Changes: 0 became ready, 1 stopped being ready, 1 new, 0 no longer listed, 1 changed OS, 2 gained "
            "blockers, 1 cleared blockers\n"
            "stopped being ready: broke (admin-share)\n"
            "new: new\n"
            "OS changed: upgraded: unknown (19045) -> unknown (22631)\n"
            "blockers appeared: broke (clock)\n"
            "blockers appeared: upgraded (old-domain-admins)\n"
            "blockers cleared: mended (old-domain-services, clock\\x07)\n");
}

TEST(Page, TilesCountWhatTheirLabelsSay) {
  HostRecord timedOut = Host("t", 2);
  timedOut.TimedOut = true;
  std::vector<HostRecord> records = {Host("a", 0), Host("b", 1), Host("c", 2), timedOut, Host("d", 16), Host("e", 9)};
  Tiles t = CountTiles(records);
  EXPECT_EQ(t.Checked, 6u);
  EXPECT_EQ(t.Ready, 1u);
  EXPECT_EQ(t.NotReady, 5u);
  EXPECT_EQ(t.Unreachable, 3u);
  EXPECT_EQ(t.TimedOut, 1u);
}

TEST(Page, HostTextNeverLeavesItsScriptElementOrTextNode) {
  const std::string hostile = "</script><script>alert(1)</script>\"><img src=x onerror=alert(2)>&amp;";

  HostRecord r = Host(hostile, 64, hostile.c_str());
  r.Lines = {hostile, "\xE2\x80\xA8\xE2\x80\xA9"};
  r.Domain = hostile;
  r.Move.DomainServices = {{hostile, hostile, hostile + "\\" + hostile, hostile, hostile}};
  r.Move.LocalAdmins = {{hostile, hostile, hostile, hostile}};
  r.Move.Profiles = {{hostile, hostile, hostile, ""}};
  r.Move.RebootPending = {hostile};
  r.Move.OldDomain = hostile;
  r.Move.Blockers = {{hostile}};
  r.Site = hostile;
  std::vector<HostRecord> records = {r};
  std::vector<HostRecord> older = {Host(hostile + "old", 0)};
  MergedRecords merged;
  merged.Files = 2;
  merged.Superseded = {{hostile, hostile, hostile, hostile, hostile}};
  ReportInput input;
  input.Records = &records;
  input.Older = &older;
  input.SourceName = hostile;
  input.OlderName = hostile;
  input.Merged = &merged;
  std::string page = RenderHtml(input);
  // The page's own markup has a fixed number of these; host text adds none.
  auto count = [&page](const std::string& needle) {
    std::size_t n = 0;
    for (auto at = page.find(needle); at != std::string::npos; at = page.find(needle, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("<script"), 2u);
  EXPECT_EQ(count("</script>"), 2u);
  EXPECT_EQ(count("<img"), 0u);
  // Line separators, which older script parsers take for line ends, escaped.
  EXPECT_EQ(count("\xE2\x80\xA8"), 0u);
  EXPECT_NE(page.find("\\u2028\\u2029"), std::string::npos);
  EXPECT_NE(page.find("&lt;/script&gt;&lt;script&gt;"), std::string::npos);      // escaped in the charts
  EXPECT_NE(page.find("<th scope=\"row\">&lt;/script&gt;"), std::string::npos);  // and in the table of sites

  HostRecord control = Host("ctl\x01\x1b\x7f", 0);
  records = {control};
  page = RenderHtml(input);
  EXPECT_NE(page.find("<li>ctl\xE2\x90\x81\xE2\x90\x9B\xE2\x90\xA1</li>"), std::string::npos);  // as visible symbols
  EXPECT_NE(page.find("default-src 'none'"), std::string::npos);
}

// A fleet's hosts share their blockers and accounts: the page carries each
// text once, whatever the number of hosts.
TEST(Page, RepeatedMoveTextsTravelOnce) {
  const std::string meaning(records::BlockerTable[3].Meaning);
  std::vector<HostRecord> records;
  for (const char* name : {"a", "b", "c"}) {
    HostRecord r = Host(name, 0);
    r.Move.DomainServices = {
        {"MSSQLSERVER", "SQL Server (MSSQLSERVER)", "svc-sql@old.example", "automatic", "running"}};
    r.Move.OldDomain = "old.example";
    r.Move.Blockers = {{std::string(records::BlockerTable[3].Name)}};
    records.push_back(r);
  }
  ReportInput input;
  input.Records = &records;
  const std::string page = RenderHtml(input);
  auto count = [&page](const std::string& needle) {
    std::size_t n = 0;
    for (auto at = page.find(needle); at != std::string::npos; at = page.find(needle, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("svc-sql@old.example"), 1u);
  EXPECT_EQ(count("SQL Server (MSSQLSERVER)"), 1u);
  EXPECT_EQ(count(meaning), 2u);  // the page's data and the chart bar's title
}

// The page's data read back the way its script reads it (page_data.h): a
// text is an index into "t", a template of "p" filled in with the host's
// own fields, itself, or null; a list an index into "v" or itself.
class PageData {
 public:
  explicit PageData(const std::string& page) {
    const std::string open = "id=\"qvx-data\">";
    const std::size_t from = page.find(open) + open.size();
    text_ = page.substr(from, page.find("</script>", from) - from);
    data_ = nlohmann::json::parse(text_);
  }
  const std::string& Text() const { return text_; }
  std::size_t Hosts() const { return data_["hosts"].size(); }

  std::optional<std::string> Field(std::size_t host, std::size_t slot) {
    Use(host);
    return TextOf(row_->at(slot));
  }
  std::vector<std::optional<std::string>> Texts(std::size_t host, std::size_t slot) {
    Use(host);
    std::vector<std::optional<std::string>> texts;
    for (const nlohmann::json& ref : List(row_->at(slot))) texts.push_back(TextOf(ref));
    return texts;
  }
  // An entry of the move facts' list `slot` (3 services, 4 administrators, 5
  // profiles), its texts without the old domain's mark.
  std::vector<std::optional<std::string>> Entry(std::size_t host, std::size_t slot, std::size_t entry) {
    Use(host);
    const nlohmann::json& fields = List(List(row_->at(21).at(slot)).at(entry));
    std::vector<std::optional<std::string>> texts;
    for (std::size_t k = 0; k + 1 < fields.size(); ++k) texts.push_back(TextOf(fields[k]));
    return texts;
  }

 private:
  void Use(std::size_t host) {
    row_ = &data_["hosts"].at(host);
    label_ = row_->at(0).get<std::string>();
    label_ = label_.substr(0, label_.find('.'));
    for (char& c : label_) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  std::optional<std::string> TextOf(const nlohmann::json& ref) {
    if (ref.is_null()) return std::nullopt;
    if (ref.is_string()) return ref.get<std::string>();
    const auto k = ref.get<std::int64_t>();
    if (k >= 0) return data_["t"].at(k).is_null() ? std::nullopt : std::optional(data_["t"].at(k).get<std::string>());
    const nlohmann::json& p = data_["p"].at(-1 - k);
    const int field = p.at(1).get<int>();
    const std::string value = field == 0   ? row_->at(0).get<std::string>()
                              : field == 1 ? label_
                                           : TextOf(row_->at(field == 2 ? 4 : 7)).value_or("?");
    return *TextOf(p.at(0)) + value + *TextOf(p.at(2));
  }
  const nlohmann::json& List(const nlohmann::json& ref) {
    return ref.is_number() ? data_["v"].at(ref.get<std::size_t>()) : ref;
  }

  std::string text_;
  nlohmann::json data_;
  const nlohmann::json* row_ = nullptr;
  std::string label_;
};

// Whatever bytes a host sent come back from the page as the records file
// would hold them, whether stored once, built around the host's own name,
// address or domain, or written in place.
TEST(PageData, EveryTextDecodesToTheRecordsText) {
  const std::string hostile = "</script><!--<script>&amp;\xE2\x80\xA8\x01\x1b[31m";
  struct Case {
    const char* Name;
    std::string Host, Address, Domain, NetbiosName, Line;
  };
  const Case cases[] = {
      {"plain", "pc1.corp.example", "10.0.0.1", "CORP", "PC1", " + Resolved hostname to: 10.0.0.1"},
      {"same lines elsewhere", "pc2.corp.example", "10.0.0.2", "CORP", "PC2", " + Resolved hostname to: 10.0.0.2"},
      {"hostile", hostile + ".x", hostile, hostile + "D", hostile, " - Host DOWN. Could not ping: " + hostile + ".x"},
      {"invalid UTF-8", "bad\xff\xfe.example", "\xC3(", "D\xE2\x82", "BAD\xff",
       "\xE2"
       "bad\xff\xfe.example\xC3("},
      {"name inside a longer one", "pc1", "pc1.corp.example", "pc1.corp", "PC1", "pc1.corp.example pc1 PC1"},
      {"not ASCII", "s\xC3\xA4ljare.example", "", "S\xC3\x84LJARE", "S\xC3\x84LJARE", "S\xC3\x84LJARE"},
      {"empty", "e", "", "", "", ""},
  };
  std::vector<HostRecord> records;
  for (const Case& c : cases) {
    HostRecord r = Host(c.Host, 0);
    if (!c.Address.empty()) r.Address = c.Address;
    if (!c.Domain.empty()) r.Domain = c.Domain;
    r.NetbiosName = c.NetbiosName;
    r.FullName = c.Host + "." + c.Domain;
    r.Lines = {c.Line, c.Line + c.Host, " + Host in domain: " + c.Domain};
    r.Move.LocalAdmins = {{"S-1-5-21-1-500", "Administrator", c.NetbiosName, "user"}, {hostile, c.Host, c.Domain, ""}};
    records.push_back(r);
  }
  ReportInput input;
  input.Records = &records;
  PageData data(RenderHtml(input));
  for (const char* raw : {"<", ">", "&", "\xE2\x80\xA8", "\x01"}) {
    EXPECT_EQ(data.Text().find(raw), std::string::npos) << raw;
  }
  ASSERT_EQ(data.Hosts(), records.size());
  using Texts = std::vector<std::optional<std::string>>;
  auto valid = [](const std::optional<std::string>& text) { return text ? std::optional(ValidUtf8(*text)) : text; };
  for (std::size_t i = 0; i < records.size(); ++i) {
    const HostRecord& r = records[i];
    SCOPED_TRACE(cases[i].Name);
    EXPECT_EQ(data.Field(i, 0), ValidUtf8(r.Host));
    EXPECT_EQ(data.Field(i, 4), valid(r.Address));
    EXPECT_EQ(data.Field(i, 5), valid(r.FullName));
    EXPECT_EQ(data.Field(i, 6), valid(r.NetbiosName));
    EXPECT_EQ(data.Field(i, 7), valid(r.Domain));
    EXPECT_EQ(data.Texts(i, 13), (Texts{ValidUtf8(r.Lines[0]), ValidUtf8(r.Lines[1]), ValidUtf8(r.Lines[2])}));
    for (std::size_t k = 0; k < 2; ++k) {
      const records::AccountEntry& a = (*r.Move.LocalAdmins)[k];
      EXPECT_EQ(data.Entry(i, 4, k),
                (Texts{ValidUtf8(a.Name), ValidUtf8(a.Domain), ValidUtf8(a.Kind), ValidUtf8(a.Sid)}));
    }
  }
}

}  // namespace
}  // namespace quorvex::report
