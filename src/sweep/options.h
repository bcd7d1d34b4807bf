// The sweep's own command line:
//
//   quorvex-sweep [options] HOSTLIST [-- SWITCHES]
//
// Everything after the first "--" is the single tool's switches, handed over
// untouched; the options before it are parsed by CLI11. To add an option, add
// its field here and one line in AddSweepOptions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace quorvex::sweep {

inline constexpr int DefaultJobs = 64;
inline constexpr int MostJobs = 1024;
inline constexpr int DefaultDeadlineSeconds = 60;
inline constexpr int MostDeadlineSeconds = 86400;
inline constexpr std::size_t MostSiteCharacters = 64;

struct SweepOptions {
  int Jobs = DefaultJobs;
  int DeadlineSeconds = DefaultDeadlineSeconds;
  std::string JsonlPath;
  std::string CsvPath;
  bool Resume = false;
  bool Overwrite = false;
  bool RetryUnreachable = false;  // implies Resume
  bool NoProgress = false;
  bool ChecksOnly = false;               // skip what a move trips over: only the single tool's checks
  std::string HostList;                  // a file, or "-" for standard input
  std::vector<std::string> Switches;     // the arguments after "--"
  bool Worker = false;                   // Windows: this process is a worker (internal)
  std::string Site;                      // written into every record; empty: none given
  std::string HtmlPath;                  // the fleet report, written at the end (or from RenderPaths)
  std::vector<std::string> RenderPaths;  // render these records, merged, instead of sweeping
  std::vector<std::string> SincePaths;   // compare with these older sweeps' records, merged
};

void AddSweepOptions(CLI::App& app, SweepOptions& options);

// What parsing came to: run, or exit with Code after Text went to standard
// output (--help, Code 0) or standard error (usage errors, Code 9).
struct OptionsOutcome {
  bool Run = false;
  int Code = 0;
  std::string Text;
  bool ToError = false;
};

OptionsOutcome ParseSweepOptions(int argc, const char* const* argv, SweepOptions& options);

}  // namespace quorvex::sweep
