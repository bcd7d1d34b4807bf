// The sweep's own options where a value is judged: the site name that goes
// into every record and onto the page, and the lists of records files that
// must not swallow the host list after them.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/exit_codes.h"
#include "sweep/options.h"

namespace quorvex::sweep {
namespace {

OptionsOutcome Parse(std::vector<std::string> words, SweepOptions& options) {
  words.insert(words.begin(), "quorvex-sweep");
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());
  return ParseSweepOptions(static_cast<int>(argv.size()), argv.data(), options);
}

std::string Times(std::size_t n, const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += text;
  return out;
}

TEST(SweepOptionsTest, SiteNamesAreShortVisibleUtf8) {
  struct Case {
    const char* Name;
    std::string Site;
    bool Accepted;
  };
  const Case cases[] = {
      {"64 characters", Times(64, "a"), true},
      {"65 characters", Times(65, "a"), false},
      {"64 two-byte characters", Times(64, "\xC3\xA9"), true},
      {"64 three-byte characters", Times(64, "\xE2\x82\xAC"), true},
      {"65 two-byte characters", Times(65, "\xC3\xA9"), false},
      {"spaces and punctuation", "Lyon, b\xC3\xA2timent \"A\" / 2", true},
      {"empty", "", false},
      {"a C0 control character", "lyon\x1b[31m", false},
      {"a tab", "lyon\tparis", false},
      {"DEL", "lyon\x7f", false},
      {"a C1 control character", "lyon\xC2\x85", false},
      {"a cut-short sequence", "lyon\xC3", false},
      {"an overlong form", "\xC0\xAF", false},
      {"a surrogate", "\xED\xA0\x80", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    SweepOptions options;
    const OptionsOutcome outcome = Parse({"--site", c.Site, "hosts.txt"}, options);
    EXPECT_EQ(outcome.Run, c.Accepted);
    if (c.Accepted) {
      EXPECT_EQ(options.Site, c.Site);
    } else {
      EXPECT_EQ(outcome.Code, ExitCode::UsageShown);
      EXPECT_TRUE(outcome.ToError);
      // The refusal never echoes the refused bytes to the terminal.
      EXPECT_EQ(outcome.Text.rfind("quorvex-sweep: --site: a site name ", 0), 0u) << outcome.Text;
      EXPECT_EQ(outcome.Text.find('\n'), outcome.Text.find("\nRun with --help"));
    }
  }
}

TEST(SweepOptionsTest, RecordsFileListsEndAtTheNextOptionAndLeaveTheHostList) {
  using Words = std::vector<std::string>;
  struct Case {
    const char* Name;
    Words Arguments;
    Words Render, Since;
    std::string HostList;
    bool Runs;
  };
  const Case cases[] = {
      {"three sites",
       {"--render", "a.jsonl", "b.jsonl", "c.jsonl", "--html", "x.html"},
       {"a.jsonl", "b.jsonl", "c.jsonl"},
       {},
       "",
       true},
      {"one file, as before", {"--render", "a.jsonl", "--since", "old.jsonl"}, {"a.jsonl"}, {"old.jsonl"}, "", true},
      {"older sites too",
       {"--render", "a.jsonl", "--since", "o1.jsonl", "o2.jsonl"},
       {"a.jsonl"},
       {"o1.jsonl", "o2.jsonl"},
       "",
       true},
      {"a sweep's --since before its host list",
       {"--jsonl", "r.jsonl", "--since", "old.jsonl", "hosts.txt"},
       {},
       {"old.jsonl"},
       "hosts.txt",
       true},
      {"a sweep's --since of two",
       {"--since", "o1.jsonl", "o2.jsonl", "hosts.txt"},
       {},
       {"o1.jsonl", "o2.jsonl"},
       "hosts.txt",
       true},
      {"--render with a host list",
       {"hosts.txt", "--render", "a.jsonl", "--html", "x.html"},
       {"a.jsonl"},
       {},
       "hosts.txt",
       false},
      {"--site with --render",
       {"--site", "lyon", "--render", "a.jsonl", "--html", "x.html"},
       {"a.jsonl"},
       {},
       "",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    SweepOptions options;
    const OptionsOutcome outcome = Parse(c.Arguments, options);
    EXPECT_EQ(outcome.Run, c.Runs) << outcome.Text;
    if (!c.Runs) {
      EXPECT_EQ(outcome.Code, ExitCode::UsageShown);
      continue;
    }
    EXPECT_EQ(options.RenderPaths, c.Render);
    EXPECT_EQ(options.SincePaths, c.Since);
    EXPECT_EQ(options.HostList, c.HostList);
  }
}

}  // namespace
}  // namespace quorvex::sweep
