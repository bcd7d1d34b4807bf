#include "platform/posix/samba/smb_text.h"

#include "core/encoding.h"
#include "platform/posix/samba/little_endian.h"

namespace quorvex::samba {
namespace {

constexpr char Backslash = '\\';

std::vector<std::string> SplitOn(std::string_view text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      parts.emplace_back(text.substr(start));
      return parts;
    }
    parts.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

constexpr std::uint64_t MaxAuthority = (std::uint64_t{1} << 48) - 1;

// Digits of one base only, nothing else, and no value above `max`.
std::optional<std::uint64_t> NumberOf(std::string_view digits, unsigned base, std::uint64_t max) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : digits) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && AsciiUpper(c) >= 'A' && AsciiUpper(c) <= 'F') {
      digit = static_cast<unsigned>(AsciiUpper(c) - 'A' + 10);
    } else {
      return std::nullopt;
    }
    if (digit >= base || value > (max - digit) / base) return std::nullopt;
    value = value * base + digit;
  }
  return value;
}

}  // namespace

std::optional<UncPath> ParseUncPath(std::string_view cp437) {
  if (cp437.size() < 3 || cp437[0] != Backslash || cp437[1] != Backslash) return std::nullopt;
  std::string_view rest = cp437.substr(2);
  std::vector<std::string> parts = SplitOn(rest, Backslash);
  UncPath path;
  path.Server = parts.front();
  if (path.Server.empty() || path.Server.find('/') != std::string::npos) return std::nullopt;
  if (parts.size() > 1 && parts.back().empty()) {
    path.TrailingSeparator = true;
    parts.pop_back();
  }
  for (std::size_t i = 1; i < parts.size(); ++i) {
    // "\\HOST\\share" has no meaning on Windows either.
    if (parts[i].empty()) return std::nullopt;
    path.Components.push_back(parts[i]);
  }
  return path;
}

std::optional<std::string> ServerNameOf(std::string_view uncName) {
  std::string withPrefix;
  if (uncName.size() >= 2 && uncName[0] == Backslash && uncName[1] == Backslash) {
    withPrefix = std::string(uncName);
  } else {
    withPrefix = "\\\\" + std::string(uncName);
  }
  std::optional<UncPath> path = ParseUncPath(withPrefix);
  if (!path || !path->Components.empty() || path->TrailingSeparator) return std::nullopt;
  return Cp437ToUtf8(path->Server);
}

Logon ParseLogon(const char* userVar, const char* passwdVar, const std::string& fallbackUser) {
  Logon logon;
  std::string user = (userVar != nullptr && *userVar != '\0') ? userVar : fallbackUser;
  std::size_t percent = user.find('%');
  if (percent != std::string::npos) {
    logon.Password = user.substr(percent + 1);
    logon.HasPassword = true;
    user.erase(percent);
  }
  std::size_t separator = user.find_first_of("\\/");
  if (separator != std::string::npos) {
    logon.Domain = user.substr(0, separator);
    user.erase(0, separator + 1);
  }
  logon.User = user;
  if (!logon.HasPassword && passwdVar != nullptr) {
    logon.Password = passwdVar;
    logon.HasPassword = true;
  }
  return logon;
}

std::string WorkstationNameOf(std::string_view hostName) {
  std::string_view label = hostName.substr(0, hostName.find('.'));
  std::string name;
  for (char c : label.substr(0, 15)) name += AsciiUpper(c);
  return name.empty() ? std::string("QUORVEX") : name;
}

std::string Cp437OfUtf8(const char* utf8) { return utf8 != nullptr ? Utf8ToCp437(utf8) : std::string(); }

std::string AnsiRegistryData(std::uint32_t type, const std::vector<std::uint8_t>& data) {
  constexpr std::uint32_t RegSz = 1, RegExpandSz = 2, RegMultiSz = 7;
  if (type != RegSz && type != RegExpandSz && type != RegMultiSz) {
    return std::string(data.begin(), data.end());
  }
  // Converted run by run so that the NULs that end and separate the strings
  // survive whatever the converter does with a NUL.
  std::string out;
  std::u16string run;
  for (char16_t unit : Utf16FromLittleEndian(data.data(), data.size() / 2)) {
    if (unit == 0) {
      out += Utf16ToCp437(run);
      out += '\0';
      run.clear();
    } else {
      run += unit;
    }
  }
  out += Utf16ToCp437(run);
  return out;
}

std::string SidText(const SidParts& sid) {
  std::string text = "S-" + std::to_string(sid.Revision) + "-";
  if (sid.Authority > 0xffffffffULL) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    text += "0x";
    for (int shift = 44; shift >= 0; shift -= 4) text += Hex[(sid.Authority >> shift) & 0xf];
  } else {
    text += std::to_string(sid.Authority);
  }
  for (std::uint32_t sub : sid.SubAuthorities) text += "-" + std::to_string(sub);
  return text;
}

std::optional<SidParts> ParseSid(std::string_view text) {
  if (text.size() < 2 || AsciiUpper(text[0]) != 'S' || text[1] != '-') return std::nullopt;
  std::vector<std::string> fields = SplitOn(text.substr(2), '-');
  if (fields.size() < 2 || fields.size() - 2 > MaxSubAuthorities || fields[0] != "1") return std::nullopt;
  SidParts sid;
  std::string_view authority = fields[1];
  std::optional<std::uint64_t> value;
  if (authority.size() > 2 && authority[0] == '0' && AsciiUpper(authority[1]) == 'X') {
    value = NumberOf(authority.substr(2), 16, MaxAuthority);
  } else {
    value = NumberOf(authority, 10, MaxAuthority);
  }
  if (!value) return std::nullopt;
  sid.Authority = *value;
  for (std::size_t i = 2; i < fields.size(); ++i) {
    std::optional<std::uint64_t> sub = NumberOf(fields[i], 10, 0xffffffffULL);
    if (!sub) return std::nullopt;
    sid.SubAuthorities.push_back(static_cast<std::uint32_t>(*sub));
  }
  return sid;
}

}  // namespace quorvex::samba
