// Records files of several sites read as one fleet: which record of a host
// counts when two sites checked it, and what a site is when older sweeps
// never wrote one.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "records/record_io.h"
#include "report/merge.h"

namespace quorvex::report {
namespace {

namespace fs = std::filesystem;

std::string Line(const std::string& host, const std::string& checkedAt, std::optional<std::string> site = {}) {
  records::HostRecord r;
  r.Host = host;
  r.CheckedAt = checkedAt;
  r.Site = std::move(site);
  return records::ToJsonLine(r) + "\n";
}

constexpr const char* Monday = "2026-12-07T09:00:00Z";
constexpr const char* Tuesday = "2026-12-08T09:00:00Z";

TEST(MergeTest, OneRecordAHostTheLatestCheckWinsEachWithItsSite) {
  using Files = std::vector<std::pair<std::string, std::string>>;  // name, bytes; a name without bytes is absent
  struct Kept {
    std::string Host, Site, CheckedAt;
  };
  struct Case {
    const char* Name;
    Files Given;
    std::vector<Kept> Records;
    std::vector<std::string> Superseded;  // "host: dropped file -> kept file"
    const char* Error;                    // a part of the one line, or null
  };
  const Case cases[] = {
      {"the later check wins, in either file order",
       {{"lyon.jsonl", Line("pc1", Tuesday, "Lyon") + Line("pc2", Monday, "Lyon")},
        {"paris.jsonl", Line("PC1", Monday, "Paris") + Line("pc3", Monday, "Paris")}},
       {{"pc1", "Lyon", Tuesday}, {"pc2", "Lyon", Monday}, {"pc3", "Paris", Monday}},
       {"pc1: paris.jsonl -> lyon.jsonl"},
       nullptr},
      {"on the same checked_at the file named later wins",
       {{"lyon.jsonl", Line("pc1", Monday, "Lyon")}, {"paris.jsonl", Line("\\\\pc1 ", Monday, "Paris")}},
       {{"\\\\pc1 ", "Paris", Monday}},
       {"\\\\pc1 : lyon.jsonl -> paris.jsonl"},
       nullptr},
      {"a host in three files keeps one record, two superseded",
       {{"a.jsonl", Line("pc1", Monday)}, {"b.jsonl", Line("pc1", Tuesday)}, {"c.jsonl", Line("pc1", Monday)}},
       {{"pc1", "b", Tuesday}},
       {"pc1: a.jsonl -> b.jsonl", "pc1: c.jsonl -> b.jsonl"},
       nullptr},
      {"an older sweep's file without sites is named by its file",
       {{"lyon.jsonl", Line("pc1", Monday, "Lyon")}, {"site.b.jsonl", Line("pc2", Monday) + Line("pc3", Monday, "")}},
       {{"pc1", "Lyon", Monday}, {"pc2", "site.b", Monday}, {"pc3", "site.b", Monday}},
       {},
       nullptr},
      {"a torn last line in one file is dropped, the rest merged",
       {{"lyon.jsonl", Line("pc1", Monday, "Lyon") + "{\"schema\":1,\"host\":\"pc2\",\"chec"},
        {"paris.jsonl", Line("pc2", Monday, "Paris")}},
       {{"pc1", "Lyon", Monday}, {"pc2", "Paris", Monday}},
       {},
       nullptr},
      {"a missing file is named",
       {{"lyon.jsonl", Line("pc1", Monday)}, {"absent.jsonl", ""}},
       {},
       {},
       "absent.jsonl cannot be read"},
      {"a line that is no record is named",
       {{"lyon.jsonl", Line("pc1", Monday)}, {"paris.jsonl", "not json\n" + Line("pc2", Monday)}},
       {},
       {},
       "line 1 of"},
  };
  const fs::path dir = fs::temp_directory_path() / ("quorvex-merge-" + std::to_string(std::random_device{}()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::vector<fs::path> paths;
    for (const auto& [name, bytes] : c.Given) {
      paths.push_back(dir / name);
      if (!bytes.empty()) std::ofstream(paths.back(), std::ios::binary) << bytes;
    }
    MergedRecords merged;
    const std::string error = MergeRecordsFiles(paths, merged);
    if (c.Error) {
      EXPECT_NE(error.find(c.Error), std::string::npos) << error;
      EXPECT_EQ(error.find('\n'), std::string::npos);
      continue;
    }
    ASSERT_EQ(error, "");
    EXPECT_EQ(merged.Files, c.Given.size());
    ASSERT_EQ(merged.Records.size(), c.Records.size());
    for (std::size_t i = 0; i < c.Records.size(); ++i) {
      EXPECT_EQ(merged.Records[i].Host, c.Records[i].Host);
      EXPECT_EQ(merged.Records[i].Site.value_or("(none)"), c.Records[i].Site);
      EXPECT_EQ(merged.Records[i].CheckedAt, c.Records[i].CheckedAt);
    }
    std::vector<std::string> superseded;
    for (const SupersededRecord& s : merged.Superseded) {
      superseded.push_back(s.Host + ": " + fs::path(s.DroppedFile).filename().u8string() + " -> " +
                           fs::path(s.KeptFile).filename().u8string());
    }
    EXPECT_EQ(superseded, c.Superseded);
  }
  fs::remove_all(dir);
}

// Past the limit, the text counts the rest rather than listing them.
TEST(MergeTest, TheTextListsTheFirstSupersededAndCountsTheRest) {
  MergedRecords merged;
  merged.Files = 2;
  merged.Superseded.assign(SupersededShown + 3, {"pc\x1b", "a.jsonl", Monday, "b.jsonl", Tuesday});
  const std::string text = FormatMerge(merged, "records files");
  EXPECT_EQ(text.rfind("Merged 2 records files: 203 records superseded by a later check of the same host\n"
                       "superseded: pc\\x1b: a.jsonl (2026-12-07T09:00:00Z), kept b.jsonl (2026-12-08T09:00:00Z)\n",
                       0),
            0u)
      << text.substr(0, 300);
  EXPECT_EQ(text.substr(text.size() - 12), "\nand 3 more\n");
  merged.Files = 1;
  EXPECT_EQ(FormatMerge(merged, "records files"), "");
}

}  // namespace
}  // namespace quorvex::report
