#include "netinfo/server_report.h"

#include <cstdint>
#include <string>

#include "core/text.h"

namespace quorvex {

namespace {

constexpr char VersionPrefix[] = " ! OS version: ";
constexpr char CommentPrefix[] = " ! OS comment: ";
constexpr char TimeServerLine[] = " ! ROLE: Time server";
constexpr char HiddenLine[] = " ! Hidden from browse list";
constexpr char SessionsPrefix[] = " ! Active sessions: ";

constexpr std::uint32_t TimeSourceBit = 0x0020;

struct RoleLine {
  std::uint32_t Bit;
  const char* Line;
};

// The first bit present names the role; a controller is not also reported as
// a plain server.
constexpr RoleLine RoleLines[] = {
    {0x0008, " ! ROLE: Primary Domain Controller"},
    {0x0010, " ! ROLE: Domain Controller"},
    {0x8000, " ! ROLE: non-DC server"},
};

}  // namespace

void ReportServerDetails(RunEnv& env, const RunSettings& settings, const NetInfoRecords& records) {
  if (!settings.Verbose) return;
  const WorkstationInfo& workstation = records.Workstation->Info;
  const ServerInfo& server = records.Server->Info;

  env.Out.PrintStatus(VersionPrefix + std::to_string(workstation.VerMajor) + "." +
                      std::to_string(workstation.VerMinor));

  const std::string comment = TrimSpaces(WideToAnsi(env.System.Net, server.Comment));
  if (!comment.empty()) env.Out.PrintStatus(CommentPrefix + Printable(comment));

  for (const RoleLine& role : RoleLines) {
    if (server.Type & role.Bit) {
      env.Out.PrintStatus(role.Line);
      break;
    }
  }
  if (server.Type & TimeSourceBit) env.Out.PrintStatus(TimeServerLine);
  if (server.Hidden != 0) env.Out.PrintStatus(HiddenLine);
  if (workstation.LoggedOnUsers != 0) {
    env.Out.PrintStatus(SessionsPrefix + std::to_string(workstation.LoggedOnUsers));
  }
}

}  // namespace quorvex
