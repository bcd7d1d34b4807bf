#include "cli/command_line.h"

#include <string_view>
#include <vector>

#include "core/text.h"

namespace quorvex {

namespace {

constexpr std::uint32_t UnexpectedTokenPauseMs = 1000;

constexpr std::string_view HostTrimSet = " \\\"";
constexpr std::string_view DomainTrimSet = " \\.\"";

enum class Switch {
  Host,
  TargetDomain,
  CurrentDomain,
  FreeSpace,
  WorkstationOnly,
  SkipFreeSpace,
  Verbose,
  PingFirst,
  IgnoreNameMismatch,
  Quiet,
  AllowNt4,
  RetryAlternateName,
  Usage
};

struct SwitchRow {
  std::string_view Slash;
  std::string_view Dash;
  Switch Which;
  bool TakesValue;
};

// Visited top to bottom; the first row whose key matches wins.
constexpr SwitchRow SwitchTable[] = {
    {"/M", "-M", Switch::Host, true},
    {"/T", "-T", Switch::TargetDomain, true},
    {"/C", "-C", Switch::CurrentDomain, true},
    {"/F", "-F", Switch::FreeSpace, true},
    {"/W", "-W", Switch::WorkstationOnly, false},
    {"/D", "-D", Switch::SkipFreeSpace, false},
    {"/V", "-V", Switch::Verbose, false},
    {"/P", "-P", Switch::PingFirst, false},
    {"/I", "-I", Switch::IgnoreNameMismatch, false},
    {"/Q", "-Q", Switch::Quiet, false},
    {"/A", "-A", Switch::AllowNt4, false},
    {"/R", "-R", Switch::RetryAlternateName, false},
    {"/?", "-?", Switch::Usage, false},
    {"/H", "-H", Switch::Usage, false},
};

// Cuts the command text into raw tokens (not yet upper-cased). A token that
// opens a double quote runs to the closing one, or to the end; any other
// token runs up to the next double quote, space or slash, so "PC1/P" is two.
std::vector<std::string_view> SplitTokens(std::string_view text) {
  std::vector<std::string_view> tokens;
  while (!text.empty()) {
    std::size_t length = 1;
    if (text.front() == '"') {
      const std::size_t close = text.find('"', 1);
      length = close == std::string_view::npos ? text.size() : close + 1;
    } else {
      while (length < text.size() && text[length] != '"' && text[length] != ' ' && text[length] != '/') {
        ++length;
      }
    }
    tokens.push_back(text.substr(0, length));
    text.remove_prefix(length);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  }
  return tokens;
}

const SwitchRow* MatchSwitch(std::string_view token) {
  const std::string_view key = token.substr(0, 2);
  for (const SwitchRow& row : SwitchTable) {
    if (key == row.Slash || key == row.Dash) return &row;
  }
  return nullptr;
}

void ApplyValue(RunSettings& settings, Switch which, std::string_view value) {
  switch (which) {
    case Switch::Host: settings.Host = TrimChars(value, HostTrimSet); break;
    case Switch::TargetDomain: settings.TargetDomain = TrimChars(value, DomainTrimSet); break;
    case Switch::CurrentDomain: settings.CurrentDomain = TrimChars(value, DomainTrimSet); break;
    case Switch::FreeSpace: settings.FreeSpaceText = TrimChars(value, DomainTrimSet); break;
    default: break;
  }
}

void ApplyFlag(RunSettings& settings, Switch which, Output& out) {
  switch (which) {
    case Switch::WorkstationOnly: settings.WorkstationOnly = true; break;
    case Switch::SkipFreeSpace: settings.SkipFreeSpace = true; break;
    case Switch::Verbose: settings.Verbose = true; break;
    case Switch::PingFirst: settings.PingFirst = true; break;
    case Switch::IgnoreNameMismatch: settings.IgnoreNameMismatch = true; break;
    case Switch::Quiet: out.OutputEnabled = false; break;
    case Switch::AllowNt4: settings.AllowNt4 = true; break;
    case Switch::RetryAlternateName: settings.RetryAlternateName = true; break;
    case Switch::Usage: settings.UsageRequested = true; break;
    default: break;
  }
}

// A word is echoed with its control characters shown as "?", so that a
// command line cannot drive the terminal; the bell that opens the line is
// the tool's own. No legal command line holds more than MostTokens words, so
// pausing after more of them would only stretch a long argument's failure
// over hours (one argument can split into thousands of words at slashes).
void ReportUnexpectedToken(const std::string& token, int reported, Output& out) {
  out.PrintDirect("");
  out.PrintDirect("\a" + Printable(token) + " was unexpected.");
  if (reported <= MostTokens) out.Pause(UnexpectedTokenPauseMs);
}

}  // namespace

int CountTokens(std::string_view commandText) { return static_cast<int>(SplitTokens(commandText).size()); }

std::string GetToken(std::string_view commandText, int n) {
  const std::vector<std::string_view> tokens = SplitTokens(commandText);
  if (n < 1 || n > static_cast<int>(tokens.size())) return {};
  return UpperCaseText(tokens[n - 1]);
}

namespace {

// refused, when given, receives the first /M, /Q or /V instead of its effect.
ParsedCommandLine ParseTokens(std::string_view commandText, Output& out, std::string* refused) {
  ParsedCommandLine parsed;
  std::vector<std::string> tokens;
  for (std::string_view raw : SplitTokens(commandText)) tokens.push_back(UpperCaseText(raw));
  parsed.TokenCount = static_cast<int>(tokens.size());
  int unexpected = 0;

  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const SwitchRow* row = MatchSwitch(tokens[i]);
    if (row == nullptr) {
      ReportUnexpectedToken(tokens[i], ++unexpected, out);
      parsed.Settings.UsageRequested = true;
    } else if (refused != nullptr &&
               (row->Which == Switch::Host || row->Which == Switch::Quiet || row->Which == Switch::Verbose)) {
      if (refused->empty()) *refused = tokens[i].substr(0, 2);
      if (row->TakesValue && i + 1 < tokens.size()) ++i;
    } else if (row->TakesValue) {
      // The next token is the value whatever it looks like: "/M /P" names host /P.
      const bool hasValue = i + 1 < tokens.size();
      ApplyValue(parsed.Settings, row->Which, hasValue ? std::string_view(tokens[i + 1]) : std::string_view());
      if (hasValue) ++i;
    } else {
      ApplyFlag(parsed.Settings, row->Which, out);
    }
  }
  return parsed;
}

}  // namespace

ParsedCommandLine ParseCommandLine(std::string_view commandText, Output& out) {
  return ParseTokens(commandText, out, nullptr);
}

ParsedCommandLine ParseSharedSwitches(std::string_view switchText, Output& out, std::string& refused) {
  refused.clear();
  return ParseTokens(switchText, out, &refused);
}

}  // namespace quorvex
