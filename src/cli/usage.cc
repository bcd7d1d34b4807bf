#include "cli/usage.h"

#include <string_view>

#include "cli/command_line.h"

namespace quorvex {

namespace {

constexpr std::string_view UsageLines[] = {
    "",
    "Quorvex /M (HostName | IP_Address) [/C Current_DOMAIN] [/T Target_DOMAIN]",
    "              [/F nnn] [/D] [/I] [/W] [/A] [/P] [/R] [/V | /Q]",
    "",
    "Use Quorvex to help verify that a remote host is ready for AD migration,",
    "or to verify general availability/access of a remote host. Exits with error",
    "code 0 if successful. Host and domain names should be NetBIOS names.",
    "",
    "/M (required): Specify the host to check",
    "/C (optional): Specify the expected CURRENT domain of the host",
    "/T (optional): Specify the TARGET domain we are migrating to",
    "/D (optional): Disable check for free space (15MB default) on admin$ share",
    "/F (optional): Specify free space (MBs) needed on admin$ share (15MB default)",
    "/I (optional): Ignore NetBIOS name mismatch",
    "/W (optional): Workstation Only: Exclude (fail) hosts that are servers",
    "/A (optional): Allow NT4: Include (pass) hosts running NT4 OS",
    "/P (optional): Ping host to verify online",
    "/R (optional): Try connecting with DNS name or IP Address if NetBIOS name fails",
    "/V (optional): Verbose: Shows additional information (leading ! in output)",
    "/Q (optional): Quiet: Set errorlevel but display nothing (except syntax errors)",
    "",
    "NOTE: Please see QUORVEX.TXT for error codes and more usage information.",
    "",
    "Comments and suggestions about Quorvex are welcome on the project's issue tracker.",
};

}  // namespace

void PrintUsage(Output& out) {
  for (std::string_view line : UsageLines) out.PrintDirect(line);
}

bool NeedsUsage(const RunSettings& settings, int tokenCount) {
  return tokenCount < FewestTokens || tokenCount > MostTokens || settings.Host.empty() || settings.UsageRequested ||
         settings.Host.find_first_of(" ,\t") != std::string::npos;
}

}  // namespace quorvex
