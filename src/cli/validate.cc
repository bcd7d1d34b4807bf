#include "cli/validate.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "core/exit_codes.h"

namespace quorvex {

namespace {

constexpr std::size_t MaxDomainLength = 15;
constexpr std::size_t MaxFreeSpaceTextLength = 4;
constexpr std::string_view DefaultFreeSpaceText = "15";
constexpr std::string_view FreeSpaceForbidden = "ABCDEFGHIJKLMNOPQRSTUVWXYZ.-";
constexpr std::int64_t BytesPerMegabyte = 1024 * 1024;
constexpr std::int64_t MostRequiredFreeBytes = 2048 * BytesPerMegabyte;

constexpr std::string_view QuietAndVerboseError =
    "ERROR: /Q and /V switches can not be used at the same time. Pick one.";
constexpr std::string_view TargetDomainError =
    "ERROR: /T: Invalid NetBIOS domain name (must be 15 characters or less).";
constexpr std::string_view CurrentDomainError =
    "ERROR: /C: Invalid NetBIOS domain name (must be 15 characters or less).";
constexpr std::string_view SameDomainsError = "ERROR: /C and /T values must be different.";
constexpr std::string_view FreeSpaceError = "ERROR: /F value must be a whole number less than or equal to 2048.";

// A DNS domain name keeps its first label, which is its NetBIOS name.
bool CutDomain(std::string& domain) {
  const std::size_t dot = domain.find('.');
  if (dot != std::string::npos) domain.erase(dot);
  return domain.size() <= MaxDomainLength;
}

// Reads the leading number: "+" and decimal digits, or "&" and octal digits.
// The text is at most four characters, so the number cannot overflow.
std::int64_t ReadMegabytes(std::string_view text) {
  int base = 10;
  char highestDigit = '9';
  if (!text.empty() && text.front() == '&') {
    base = 8;
    highestDigit = '7';
    text.remove_prefix(1);
  } else if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
  }
  std::int64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > highestDigit) break;
    number = number * base + (c - '0');
  }
  return number;
}

int Fail(Output& out, std::string_view line) {
  out.PrintDirect(line);
  return ExitCode::InvalidValue;
}

}  // namespace

int ValidateRunSettings(RunSettings& settings, Output& out) {
  if (settings.Verbose && !out.OutputEnabled) return Fail(out, QuietAndVerboseError);
  if (!CutDomain(settings.TargetDomain)) return Fail(out, TargetDomainError);
  if (!CutDomain(settings.CurrentDomain)) return Fail(out, CurrentDomainError);
  if (!settings.TargetDomain.empty() && settings.CurrentDomain == settings.TargetDomain) {
    return Fail(out, SameDomainsError);
  }

  if (settings.FreeSpaceText.empty()) settings.FreeSpaceText = DefaultFreeSpaceText;
  const std::string& text = settings.FreeSpaceText;
  if (text.size() > MaxFreeSpaceTextLength || text.find_first_of(FreeSpaceForbidden) != std::string::npos) {
    return Fail(out, FreeSpaceError);
  }
  settings.RequiredFreeBytes = ReadMegabytes(text) * BytesPerMegabyte;
  if (settings.RequiredFreeBytes > MostRequiredFreeBytes) return Fail(out, FreeSpaceError);
  if (settings.RequiredFreeBytes == 0) settings.SkipFreeSpace = true;
  return 0;
}

}  // namespace quorvex
