#include "remote/computer_role.h"

#include <utility>

#include "core/exit_codes.h"
#include "remote/registry_read.h"

namespace quorvex {

namespace {

constexpr char TitleHeading[] = ": Checking Computer role...";
constexpr char ProductKey[] = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";
constexpr char ProductValue[] = "ProductType";
constexpr char WorkstationProduct[] = "WinNT";
constexpr std::int32_t Success = 0;

constexpr char ConnectCall[] = "RegConnectRegistryA";
constexpr char NoConnectionLine[] = " - Can NOT access remote registry. Non-NT OS or access denied.";
constexpr char ConnectedLine[] = " + Connected to remote registry.";
constexpr char KeyRefusedLine[] = " - Can NOT access Computer role info via remote registry. Access denied.";

struct RoleRow {
  const char* Line;
  std::uint16_t Added;
};

constexpr RoleRow UnknownRole{" - UNKNOWN role.", ExitCode::Role};
constexpr RoleRow WorkstationRole{" + WORKSTATION role.", 0};
constexpr RoleRow ServerRole{" + SERVER role.", 0};
constexpr RoleRow RefusedServerRole{" - SERVER role.", ExitCode::Role};

RoleRow LookUpRole(const std::string& product, bool workstationOnly) {
  if (product == RegistryFailureMarker) return UnknownRole;
  if (product == WorkstationProduct) return WorkstationRole;
  return workstationOnly ? RefusedServerRole : ServerRole;
}

}  // namespace

RoleVerdict CheckComputerRole(RunEnv& env, const RunSettings& settings, const HostIdentity& identity,
                              const std::string& uncServerName) {
  env.Out.ShowStageTitle(identity.HostName, TitleHeading);
  RoleVerdict verdict;
  std::unique_ptr<RegistryKey> rootKey;
  if (const std::int32_t status = env.System.Registry.ConnectRegistry(uncServerName, rootKey);
      status != Success || !rootKey) {
    env.Findings.FailedCall(ConnectCall, status);
    env.Out.PrintStatus(NoConnectionLine);
    verdict.Added = ExitCode::Registry;
    return verdict;
  }
  env.Out.PrintStatus(ConnectedLine);

  const RegistryRead read = ReadRemoteRegistryString(*rootKey, ProductKey, ProductValue);
  ReportRegistryFailure(read, env.Findings);
  if (!read.KeyOpened) {
    env.Out.PrintStatus(KeyRefusedLine);
    verdict.Added = ExitCode::Registry;
    return verdict;  // rootKey closes here; the version check does not run
  }
  if (read.Text != RegistryFailureMarker) env.Findings.Text(Fact::ProductType, read.Text);
  const RoleRow row = LookUpRole(read.Text, settings.WorkstationOnly);
  env.Out.PrintStatus(row.Line);
  verdict.Added = row.Added;
  verdict.RootKey = std::move(rootKey);
  return verdict;
}

}  // namespace quorvex
