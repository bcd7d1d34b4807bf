#include "records/os_family.h"

#include <cstdint>

#include "core/encoding.h"

namespace quorvex::records {

namespace {

struct FamilyRow {
  std::uint32_t FromBuild;
  std::string_view Client;
  std::string_view Server;
};

// Visited top to bottom: the first row at or below the build names it. The
// builds are the public release builds; a build between two rows (a preview)
// takes the older name.
constexpr FamilyRow FamilyTable[] = {
    {26100, "Windows 11", "Windows Server 2025"},      {22000, "Windows 11", "Windows Server 2022"},
    {20348, "Windows 10", "Windows Server 2022"},      {17763, "Windows 10", "Windows Server 2019"},
    {10240, "Windows 10", "Windows Server 2016"},      {9600, "Windows 8.1", "Windows Server 2012 R2"},
    {9200, "Windows 8", "Windows Server 2012"},        {7600, "Windows 7", "Windows Server 2008 R2"},
    {6000, "Windows Vista", "Windows Server 2008"},    {3790, "Windows XP x64", "Windows Server 2003"},
    {2600, "Windows XP", "Windows 2000 Server"},       {2195, "Windows 2000", "Windows 2000 Server"},
    {1381, "Windows NT 4.0", "Windows NT 4.0 Server"},
};

// Where a release after Windows 10 goes by its version ("22H2"), appended.
constexpr std::uint32_t FirstVersionedBuild = 10240;
// The long-term servers go by their year; the builds between them are the
// semi-annual servers, named by their version.
constexpr std::uint32_t YearServerBuilds[] = {14393, 17763, 20348, 26100};

struct VersionRow {
  std::uint32_t Major;
  std::uint32_t Minor;
  std::uint32_t Build;  // the first build of that version
};

// For a host whose build number is missing: CurrentVersion, or the major and
// minor numbers that replaced it.
constexpr VersionRow VersionTable[] = {
    {10, 0, 10240}, {6, 3, 9600}, {6, 2, 9200}, {6, 1, 7600}, {6, 0, 6000},
    {5, 2, 3790},   {5, 1, 2600}, {5, 0, 2195}, {4, 0, 1381},
};

std::optional<std::string_view> Usable(const std::optional<std::string>& value) {
  if (!value || !RegistryText(*value)) return std::nullopt;
  return std::string_view(*value);
}

bool ContainsNoCase(std::string_view text, std::string_view word) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
    bool match = true;
    for (std::size_t k = 0; k < word.size() && match; ++k) match = lower(text[i + k]) == lower(word[k]);
    if (match) return true;
  }
  return false;
}

std::optional<std::uint32_t> Digits(std::string_view text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return value;
}

std::optional<std::uint32_t> BuildOf(const OsFacts& os, const std::optional<std::string>& osVersion) {
  if (const auto text = Usable(os.CurrentBuildNumber)) {
    if (const auto build = Digits(*text)) return build;
  }
  std::optional<std::uint32_t> major = os.CurrentMajorVersionNumber, minor = os.CurrentMinorVersionNumber;
  if (!major || !minor) {
    major.reset();
    const auto text = Usable(osVersion);
    const std::size_t dot = text ? text->find('.') : std::string_view::npos;
    if (dot != std::string_view::npos) {
      major = Digits(text->substr(0, dot));
      minor = Digits(text->substr(dot + 1));
    }
  }
  if (!major || !minor) return std::nullopt;
  for (const VersionRow& row : VersionTable) {
    if (row.Major == *major && row.Minor == *minor) return row.Build;
  }
  return std::nullopt;
}

std::optional<bool> IsServer(const OsFacts& os, const std::optional<std::string>& productType) {
  if (const auto type = Usable(os.InstallationType)) {
    if (ContainsNoCase(*type, "server")) return true;  // "Server", "Server Core", "Nano Server"
    if (ContainsNoCase(*type, "client")) return false;
  }
  if (const auto type = Usable(productType)) {
    if (ContainsNoCase(*type, "ServerNT") || ContainsNoCase(*type, "LanmanNT")) return true;
    if (ContainsNoCase(*type, "WinNT")) return false;
  }
  if (const auto name = Usable(os.ProductName)) return ContainsNoCase(*name, "server");
  return std::nullopt;
}

// "22H2", "1809": a version worth appending, never free text from the host.
std::optional<std::string_view> VersionName(const OsFacts& os) {
  const auto text = Usable(os.DisplayVersion);
  if (!text || text->empty() || text->size() > 8) return std::nullopt;
  for (char c : *text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return std::nullopt;
  }
  return text;
}

}  // namespace

std::optional<std::string> RegistryText(std::string_view value) {
  if (value.size() > MaxRegistryTextBytes) return std::nullopt;
  for (char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return std::nullopt;
  }
  return ValidUtf8(value);
}

std::optional<std::string> OsFamily(const OsFacts& os, const std::optional<std::string>& productType,
                                    const std::optional<std::string>& osVersion) {
  const std::optional<std::uint32_t> build = BuildOf(os, osVersion);
  const std::optional<bool> server = IsServer(os, productType);
  if (!build || !server) return std::nullopt;
  const FamilyRow* row = nullptr;
  for (const FamilyRow& candidate : FamilyTable) {
    if (*build >= candidate.FromBuild) {
      row = &candidate;
      break;
    }
  }
  if (row == nullptr) return std::nullopt;
  const std::optional<std::string_view> version = VersionName(os);
  if (!*server) {
    std::string family(row->Client);
    if (*build >= FirstVersionedBuild && version) family += " " + std::string(*version);
    return family;
  }
  bool yearServer = *build < YearServerBuilds[0];
  for (std::uint32_t year : YearServerBuilds) yearServer = yearServer || *build == year;
  if (!yearServer && version) return "Windows Server " + std::string(*version);
  std::string family(row->Server);
  if (row->FromBuild == 3790) {
    const auto name = Usable(os.ProductName);
    if (name && ContainsNoCase(*name, "R2")) family += " R2";
  }
  return family;
}

}  // namespace quorvex::records
