#include "app/run_checks.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "cli/command_line.h"
#include "cli/usage.h"
#include "cli/validate.h"
#include "core/exit_codes.h"
#include "core/output.h"
#include "core/stage.h"
#include "core/text.h"
#include "host/echo_probe.h"
#include "host/host_identity.h"
#include "netinfo/identity_checks.h"
#include "netinfo/net_queries.h"
#include "netinfo/server_report.h"
#include "remote/admin_share.h"
#include "remote/computer_role.h"
#include "remote/move_facts.h"
#include "remote/os_version.h"
#include "remote/smb_connection.h"

namespace quorvex {

namespace {

// The stages that talk to the host itself. Returns CheckOutcome: the code of
// the first early failure, or the sum of the late failures. Whatever records
// the queries obtained stay in `records` for the caller to release,
// `uncServerName` names the host as the calls that answered addressed it,
// and `registryRoot` holds the registry connection the checks opened, if
// any, for the facts beyond them.
std::uint16_t CheckReachedHost(RunEnv& env, const RunSettings& settings, const HostIdentity& identity,
                               NetInfoRecords& records, std::string& uncServerName,
                               std::unique_ptr<RegistryKey>& registryRoot) {
  // A host that answers its management calls is asked the facts after the
  // checks; their longer waits start as soon as it first answers and go on
  // beside the server query and the checks.
  std::function<void(const std::string&)> answered;
  if (env.Findings.WantsMoveFacts())
    answered = [&env](const std::string& unc) { env.System.Admin.PrepareMoveFacts(unc); };
  if (Verdict v = QueryNetInfo(env, settings, identity, records, uncServerName, answered); v.EndsRun) return v.Code;
  if (Verdict v = CheckNetBiosName(env, settings, identity, records); v.EndsRun) return v.Code;
  if (Verdict v = CheckDomain(env, settings, identity, records); v.EndsRun) return v.Code;
  ReportServerDetails(env, settings, records);

  // From here on a failure is recorded and the run goes on.
  std::uint16_t checkOutcome = CheckAdminShare(env, settings, identity, uncServerName);
  RoleVerdict role = CheckComputerRole(env, settings, identity, uncServerName);
  checkOutcome = static_cast<std::uint16_t>(checkOutcome + role.Added);
  if (role.RootKey) {
    checkOutcome =
        static_cast<std::uint16_t>(checkOutcome + CheckOsVersion(env, settings, identity, role.RootKey.get()));
  }
  registryRoot = std::move(role.RootKey);
  return checkOutcome;
}

std::uint16_t Clamped(std::uint16_t checkOutcome) {
  return checkOutcome > ExitCode::Largest ? ExitCode::Largest : checkOutcome;
}

std::uint16_t CheckRemoteHost(RunEnv& env, const RunSettings& settings, const HostIdentity& identity,
                              NetInfoRecords& records) {
  std::string uncServerName;
  std::unique_ptr<RegistryKey> registryRoot;
  const std::uint16_t checkOutcome = CheckReachedHost(env, settings, identity, records, uncServerName, registryRoot);
  // Asked when every call that used the connection is done, and only of a
  // host that answered the first of them: one that never did has no
  // connection to tell of.
  if (records.Workstation) ReportSmbConnection(env, uncServerName);
  // Beyond the checks, of a host that answered its management calls: the
  // checks' code is told first, so nothing after it can change it.
  if (records.Workstation && checkOutcome != ExitCode::NoManagement && env.Findings.WantsMoveFacts()) {
    env.Findings.Checked(Clamped(checkOutcome));
    const std::string hostName = TrimSpaces(WideToAnsi(env.System.Net, records.Workstation->Info.ComputerName));
    ReportMoveFacts(env, uncServerName, hostName, std::move(registryRoot));
  }
  return checkOutcome;
}

}  // namespace

int RunChecks(const std::string& commandText, Platform& system) {
  NoFindings nobody;
  return RunChecks(commandText, system, nobody);
}

int RunChecks(const std::string& commandText, Platform& system, FindingsSink& findings) {
  Output out(system.Console, findings);
  out.OutputEnabled = true;

  ParsedCommandLine parsed = ParseCommandLine(commandText, out);
  if (NeedsUsage(parsed.Settings, parsed.TokenCount)) {
    PrintUsage(out);
    return ExitCode::UsageShown;
  }
  RunSettings settings = std::move(parsed.Settings);
  if (const int code = ValidateRunSettings(settings, out); code != 0) return code;
  return CheckHost(settings, system, out);
}

int CheckHost(const RunSettings& settings, Platform& system, Output& out) {
  // Nothing is held from the host before the network queries, so the early
  // stages return their code directly.
  RunEnv env{system, out, out.Findings()};
  HostIdentity identity;
  if (Verdict v = IdentifyHost(env, settings.Host, identity); v.EndsRun) return v.Code;
  if (Verdict v = CheckReachability(env, settings, identity); v.EndsRun) return v.Code;

  NetInfoRecords records;
  const std::uint16_t checkOutcome = CheckRemoteHost(env, settings, identity, records);
  records.Release();
  return Clamped(checkOutcome);
}

}  // namespace quorvex
