#include "remote/admin_share.h"

#include <limits>
#include <memory>

#include "core/exit_codes.h"

namespace quorvex {

namespace {

constexpr char TitleHeading[] = ": Checking admin$ share...";
constexpr char ProbeSuffix[] = "\\admin$\\System32";
constexpr char RootSuffix[] = "\\admin$\\";

constexpr char MissingLine[] = " - Admin$ share does NOT exist or we have no access to it.";
constexpr char ExistsLine[] = " + Admin$ share exists.";
constexpr char EnoughPrefix[] = " + Admin$ share exists and has greater than ";
constexpr char TooLittlePrefix[] = " - Admin$ share exists but has less than ";
constexpr char MegabytesSuffix[] = "MB free.";
constexpr char FindCall[] = "FindFirstFileA";
constexpr char FreeSpaceCall[] = "GetDiskFreeSpaceA";

// The counters come from the host; a product too large for 64 bits stays
// huge instead of wrapping round to a small number.
std::uint64_t SaturatingProduct(std::uint64_t a, std::uint64_t b) {
  if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) {
    return std::numeric_limits<std::uint64_t>::max();
  }
  return a * b;
}

std::uint64_t FreeBytesOf(const std::optional<DiskFreeSpace>& space) {
  if (!space) return 0;
  return SaturatingProduct(SaturatingProduct(space->SectorsPerCluster, space->BytesPerSector), space->FreeClusters);
}

// A failed file call is told with the status the platform gives, when it
// gives one.
void TellFailure(RunEnv& env, const char* call) {
  if (const std::uint32_t status = env.System.Files.LastFailure(); status != 0) env.Findings.FailedCall(call, status);
}

bool HasMoreThan(std::uint64_t freeBytes, std::int64_t requiredBytes) {
  return requiredBytes < 0 || freeBytes > static_cast<std::uint64_t>(requiredBytes);
}

}  // namespace

bool PathExists(UncFileService& files, const std::string& path) {
  const std::unique_ptr<FindHandle> handle = files.FindFirst(path);
  return handle != nullptr;
}

std::uint64_t QueryFreeBytes(UncFileService& files, const std::string& rootPath) {
  return FreeBytesOf(files.QueryDiskFreeSpace(rootPath));
}

std::uint16_t CheckAdminShare(RunEnv& env, const RunSettings& settings, const HostIdentity& identity,
                              const std::string& uncServerName) {
  env.Out.ShowStageTitle(identity.HostName, TitleHeading);
  if (!PathExists(env.System.Files, uncServerName + ProbeSuffix)) {
    TellFailure(env, FindCall);
    env.Findings.Flag(Fact::AdminShare, false);
    env.Out.PrintStatus(MissingLine);
    return ExitCode::AdminShare;
  }
  env.Findings.Flag(Fact::AdminShare, true);
  if (settings.SkipFreeSpace) {
    env.Out.PrintStatus(ExistsLine);
    return 0;
  }
  // A query that failed counts as no free space for the check, but the
  // findings learn no number: zero bytes is not what the host said.
  const std::optional<DiskFreeSpace> space = env.System.Files.QueryDiskFreeSpace(uncServerName + RootSuffix);
  if (space) {
    env.Findings.Number(Fact::FreeBytes, FreeBytesOf(space));
  } else {
    TellFailure(env, FreeSpaceCall);
  }
  const std::uint64_t freeBytes = FreeBytesOf(space);
  if (HasMoreThan(freeBytes, settings.RequiredFreeBytes)) {
    env.Out.PrintStatus(EnoughPrefix + settings.FreeSpaceText + MegabytesSuffix);
    return 0;
  }
  env.Out.PrintStatus(TooLittlePrefix + settings.FreeSpaceText + MegabytesSuffix);
  return ExitCode::AdminShare;
}

}  // namespace quorvex
