// The command line: tokens, switches, the usage decision and validation.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/command_line.h"
#include "cli/usage.h"
#include "cli/validate.h"
#include "fake_platform.h"

namespace quorvex {
namespace {

std::vector<std::string> Tokens(const std::string& text) {
  std::vector<std::string> tokens;
  for (int n = 1; n <= CountTokens(text); ++n) tokens.push_back(GetToken(text, n));
  return tokens;
}

TEST(CommandLineTest, SplitsTokensAtQuotesSpacesAndSlashes) {
  struct Case {
    std::string Text;
    std::vector<std::string> Expected;
  };
  // clang-format off
  const Case cases[] = {
      {"", {}},
      {"/m pc1 /p", {"/M", "PC1", "/P"}},
      {"/M/P", {"/M", "/P"}},
      {"PC1/P", {"PC1", "/P"}},
      {"/M  pc1   ", {"/M", "PC1"}},
      {"ab\"c d\" e", {"AB", "\"C D\"", "E"}},
      {"/M \"pc1", {"/M", "\"PC1"}},
      {"a\tb c", {"A\tB", "C"}},
      {"\x84x\xE4", {"\x8E" "X\xE4"}},  // code page 437 letters only
  };
  // clang-format on
  for (const Case& c : cases) EXPECT_EQ(Tokens(c.Text), c.Expected) << c.Text;
  EXPECT_EQ(GetToken("/M pc1", 0), "");
  EXPECT_EQ(GetToken("/M pc1", 3), "");
}

TEST(CommandLineTest, MatchesSwitchesAndTakesValues) {
  struct Case {
    std::string Text;
    std::string Host;
    std::string Target;
    std::string FreeSpace;
    bool Ping;
  };
  const Case cases[] = {
      {"/m pc1", "PC1", "", "", false},
      {"-M pc1", "PC1", "", "", false},
      {"/MACHINE pc1", "PC1", "", "", false},
      {"/M \\\\pc1", "PC1", "", "", false},
      {"/M \"pc1\"", "PC1", "", "", false},
      {"/M \"pc1", "PC1", "", "", false},
      {"/M /P", "/P", "", "", false},  // a value switch takes the next token whatever it is
      {"/M pc1/P", "PC1", "", "", true},
      {"/M pc1 /T", "PC1", "", "", false},
      {"/M pc1 /T ..corp.sub.", "PC1", "CORP.SUB", "", false},
      {"/M pc1 /F 20.", "PC1", "", "20", false},
      {"/M a /M b", "B", "", "", false},
  };
  for (const Case& c : cases) {
    FakeStage stage;
    const ParsedCommandLine parsed = ParseCommandLine(c.Text, stage.Out);
    EXPECT_EQ(parsed.Settings.Host, c.Host) << c.Text;
    EXPECT_EQ(parsed.Settings.TargetDomain, c.Target) << c.Text;
    EXPECT_EQ(parsed.Settings.FreeSpaceText, c.FreeSpace) << c.Text;
    EXPECT_EQ(parsed.Settings.PingFirst, c.Ping) << c.Text;
    EXPECT_EQ(stage.Fake.Output, "") << c.Text;
  }
}

TEST(CommandLineTest, FlagsAndQuietMode) {
  FakeStage stage;
  const ParsedCommandLine parsed = ParseCommandLine("/M pc1 /d /i -w /a /p /r /v /q", stage.Out);
  const RunSettings& s = parsed.Settings;
  EXPECT_TRUE(s.SkipFreeSpace && s.IgnoreNameMismatch && s.WorkstationOnly && s.AllowNt4 && s.PingFirst &&
              s.RetryAlternateName && s.Verbose);
  EXPECT_FALSE(s.UsageRequested);
  EXPECT_FALSE(stage.Out.OutputEnabled);
  EXPECT_EQ(parsed.TokenCount, 10);
}

TEST(CommandLineTest, UnexpectedTokensAreReportedEvenWhenQuiet) {
  FakeStage stage;
  const ParsedCommandLine parsed = ParseCommandLine("/Q /M pc1 bogus x", stage.Out);
  EXPECT_TRUE(parsed.Settings.UsageRequested);
  EXPECT_EQ(stage.Fake.Output, "\r\n\aBOGUS was unexpected.\r\n\r\n\aX was unexpected.\r\n");
  EXPECT_EQ(stage.Fake.Sleeps, (std::vector<std::uint32_t>{1000, 1000}));
}

std::string Repeated(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

TEST(CommandLineTest, UnexpectedTokensAreEchoedWithoutControlCharacters) {
  struct Case {
    std::string Token;
    std::string Line;
  };
  const Case cases[] = {
      {"\x1b]0;t\a\x1b[2J", "\a?]0;T??[2J was unexpected.\r\n"},  // a title and a cleared screen
      {"a\tb\x7f\x01\x1f", "\aA?B??? was unexpected.\r\n"},
      {"\x84~ \xe9", "\a\x8e~ was unexpected.\r\n\r\n\a\xe9 was unexpected.\r\n"},  // code page 437 stays
  };
  for (const Case& c : cases) {
    FakeStage stage;
    ParseCommandLine("/M pc1 " + c.Token, stage.Out);
    EXPECT_EQ(stage.Fake.Output, "\r\n" + c.Line) << c.Token;
  }
}

TEST(CommandLineTest, PausesOnlyForTheFirstThirteenUnexpectedTokens) {
  struct Case {
    std::string Text;
    std::size_t Lines;
    std::size_t Pauses;
  };
  // "x/" n times is n + 1 unexpected tokens: X, then /X, ..., then a lone /.
  const Case cases[] = {
      {"/M pc1 " + Repeated("x/", 12), 13, 13},
      {"/M pc1 " + Repeated("x/", 13), 14, 13},
      {"/M pc1 " + Repeated("x/", 50000), 50001, 13},
  };
  for (const Case& c : cases) {
    FakeStage stage;
    ParseCommandLine(c.Text, stage.Out);
    std::size_t lines = 0;
    for (std::size_t at = stage.Fake.Output.find("was unexpected."); at != std::string::npos;
         at = stage.Fake.Output.find("was unexpected.", at + 1)) {
      ++lines;
    }
    EXPECT_EQ(lines, c.Lines) << c.Lines;
    EXPECT_EQ(stage.Fake.Sleeps, std::vector<std::uint32_t>(c.Pauses, 1000)) << c.Lines;
  }
}

TEST(CommandLineTest, DecidesOnUsage) {
  struct Case {
    std::string Text;
    bool Usage;
  };
  const Case cases[] = {
      {"", true},
      {"/M", true},
      {"/M pc1", false},
      {"/M pc1 /?", true},
      {"/M pc1 -h", true},
      {"/M \"pc1 pc2\"", true},
      {"/M pc1,pc2", true},
      {"/M \"pc1\tpc2\"", true},
      {"/M pc1 /T", false},
      {"/M pc1 /C a /T b /F 1 /D /I /W /A /P", false},    // 13 tokens
      {"/M pc1 /C a /T b /F 1 /D /I /W /A /P /R", true},  // 14 tokens
  };
  for (const Case& c : cases) {
    FakeStage stage;
    const ParsedCommandLine parsed = ParseCommandLine(c.Text, stage.Out);
    EXPECT_EQ(NeedsUsage(parsed.Settings, parsed.TokenCount), c.Usage) << c.Text;
  }
}

TEST(CommandLineTest, ValidatesValues) {
  const std::string quietVerbose = "ERROR: /Q and /V switches can not be used at the same time. Pick one.\r\n";
  const std::string target = "ERROR: /T: Invalid NetBIOS domain name (must be 15 characters or less).\r\n";
  const std::string current = "ERROR: /C: Invalid NetBIOS domain name (must be 15 characters or less).\r\n";
  const std::string same = "ERROR: /C and /T values must be different.\r\n";
  const std::string free = "ERROR: /F value must be a whole number less than or equal to 2048.\r\n";
  struct Case {
    std::string Text;
    int Code;
    std::string Line;
    std::int64_t RequiredMegabytes;
    bool Skip;
  };
  const Case cases[] = {
      {"/M pc1 /Q /V", 99, quietVerbose, 0, false},
      {"/M pc1 /T abcdefghijklmnop", 99, target, 0, false},
      {"/M pc1 /T abcdefghijklmno.corp", 0, "", 15, false},
      {"/M pc1 /C abcdefghijklmnop /T x", 99, current, 0, false},
      {"/M pc1 /C corp.one /T corp.two", 99, same, 0, false},
      {"/M pc1 /C corp", 0, "", 15, false},
      {"/M pc1 /T \"two words\"", 0, "", 15, false},
      {"/M pc1 /F 2048", 0, "", 2048, false},
      {"/M pc1 /F 2049", 99, free, 0, false},
      {"/M pc1 /F 00015", 99, free, 0, false},
      {"/M pc1 /F 1.5", 99, free, 0, false},
      {"/M pc1 /F -1", 99, free, 0, false},
      {"/M pc1 /F 1E3", 99, free, 0, false},
      {"/M pc1 /F /D", 99, free, 0, false},
      {"/M pc1 /F +20", 0, "", 20, false},
      {"/M pc1 /F 020", 0, "", 20, false},
      {"/M pc1 /F &17", 0, "", 15, false},
      {"/M pc1 /F 20.", 0, "", 20, false},
      {"/M pc1 /F 0", 0, "", 0, true},
      {"/M pc1 /F", 0, "", 15, false},
      {"/M pc1 /D", 0, "", 15, true},
      {"/M pc1 /F &8", 0, "", 0, true},  // "&" reads octal digits only
      {"/M pc1 /F &777", 0, "", 511, false},
      {"/M pc1 /F 204!", 0, "", 204, false},
      {"/M pc1 /F 4000", 99, free, 0, false},
      {"/M pc1 /F abc", 99, free, 0, false},
      // When several values are wrong, the first step in order reports.
      {"/M pc1 /Q /V /T abcdefghijklmnop", 99, quietVerbose, 0, false},
      {"/M pc1 /C abcdefghijklmnop /T abcdefghijklmnop", 99, target, 0, false},
      {"/M pc1 /C corp /T corp /F 9999", 99, same, 0, false},
  };
  for (const Case& c : cases) {
    FakeStage stage;
    ParsedCommandLine parsed = ParseCommandLine(c.Text, stage.Out);
    EXPECT_EQ(ValidateRunSettings(parsed.Settings, stage.Out), c.Code) << c.Text;
    EXPECT_EQ(stage.Fake.Output, c.Line) << c.Text;
    if (c.Code == 0) {
      EXPECT_EQ(parsed.Settings.RequiredFreeBytes, c.RequiredMegabytes * 1024 * 1024) << c.Text;
      EXPECT_EQ(parsed.Settings.SkipFreeSpace, c.Skip) << c.Text;
    }
  }
}

TEST(CommandLineTest, ValidationCutsDomainsAndKeepsTheFreeSpaceText) {
  FakeStage stage;
  ParsedCommandLine parsed = ParseCommandLine("/M pc1 /T corp.sub /C sales.lan /F +20", stage.Out);
  ASSERT_EQ(ValidateRunSettings(parsed.Settings, stage.Out), 0);
  EXPECT_EQ(parsed.Settings.TargetDomain, "CORP");
  EXPECT_EQ(parsed.Settings.CurrentDomain, "SALES");
  EXPECT_EQ(parsed.Settings.FreeSpaceText, "+20");
}

}  // namespace
}  // namespace quorvex
