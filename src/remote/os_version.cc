#include "remote/os_version.h"

#include <algorithm>
#include <string_view>

#include "core/exit_codes.h"
#include "remote/os_details.h"
#include "remote/registry_read.h"

namespace quorvex {

namespace {

constexpr char TitleHeading[] = ": Checking OS version...";
constexpr char VersionValue[] = "CurrentVersion";
constexpr std::string_view LowestPassingVersion = "5.0";
constexpr char Nt4Version[] = "4.0";

constexpr char KeyRefusedLine[] = " - Can NOT access OS version info via remote registry. Access denied.";

struct VersionRow {
  const char* Line;
  std::uint16_t Added;
};

constexpr VersionRow UnknownOs{" - UNKNOWN OS.", ExitCode::OsVersion};
constexpr VersionRow ModernOs{" + W2K or greater OS.", 0};
constexpr VersionRow AllowedNt4{" + NT4 OS.", 0};
constexpr VersionRow RefusedNt4{" - NT4 OS.", ExitCode::OsVersion};
constexpr VersionRow UnsupportedOs{" - Unsupported OS.", ExitCode::OsVersion};

VersionRow LookUpVersion(const std::string& version, bool allowNt4) {
  if (version == RegistryFailureMarker) return UnknownOs;
  if (IsW2kOrGreater(version)) return ModernOs;
  if (version == Nt4Version) return allowNt4 ? AllowedNt4 : RefusedNt4;
  return UnsupportedOs;
}

}  // namespace

std::uint16_t CheckOsVersion(RunEnv& env, const RunSettings& settings, const HostIdentity& identity,
                             RegistryKey* rootKey) {
  env.Out.ShowStageTitle(identity.HostName, TitleHeading);
  // A caller that records the details keeps the version key open for them
  // rather than opening it twice; it closes when it goes out of scope.
  std::unique_ptr<RegistryKey> versionKey;
  RegistryRead read;
  if (rootKey != nullptr) {
    read = ReadRemoteRegistryString(*rootKey, VersionKeyPath, VersionValue,
                                    env.Findings.WantsOsDetails() ? &versionKey : nullptr);
    ReportRegistryFailure(read, env.Findings);
  }
  if (!read.KeyOpened) {
    env.Out.PrintStatus(KeyRefusedLine);
    return ExitCode::Registry;
  }
  if (read.Text != RegistryFailureMarker) env.Findings.Text(Fact::OsVersion, read.Text);
  const VersionRow row = LookUpVersion(read.Text, settings.AllowNt4);
  env.Out.PrintStatus(row.Line);
  if (versionKey) ReadOsDetails(*versionKey, env.Findings);
  return row.Added;
}

bool IsW2kOrGreater(const std::string& version) {
  // Byte order, not numeric order: "10.0" sorts below "5.0".
  return !std::lexicographical_compare(
      version.begin(), version.end(), LowestPassingVersion.begin(), LowestPassingVersion.end(),
      [](char a, char b) { return static_cast<unsigned char>(a) < static_cast<unsigned char>(b); });
}

}  // namespace quorvex
