#include "sweep/switches.h"

#include "cli/command_line.h"
#include "cli/validate.h"
#include "core/exit_codes.h"
#include "core/output.h"
#include "core/worker_process.h"

namespace quorvex::sweep {

namespace {

// Each host's run is `/M HOST SWITCHES /V`: three tokens the sweep adds.
constexpr int TokensTheSweepAdds = 3;

// Collects what the single tool's parser and validation print, for standard
// error: the sweep's standard output is its hosts' lines.
class CollectedConsole final : public ConsoleService {
 public:
  void WriteOutput(std::string_view bytes) override { Text.append(bytes.data(), bytes.size()); }
  void SetTitle(const std::string&) override {}
  void Sleep(std::uint32_t) override {}
  std::string Text;
};

int Refuse(const std::string& text, int code) {
  WriteError(text);
  return code;
}

}  // namespace

int ParseSweepSwitches(const std::vector<std::string>& arguments, RunSettings& settings) {
  CollectedConsole console;
  Output out(console);
  std::string refused;
  ParsedCommandLine parsed = ParseSharedSwitches(CommandTextOf(arguments), out, refused);
  if (!refused.empty()) {
    return Refuse("quorvex-sweep: " + CoreTextToUtf8(refused) +
                      " cannot be given after --: the sweep supplies each host (/M) and records always carry "
                      "the verbose lines (/V, so no /Q).\n",
                  ExitCode::UsageShown);
  }
  if (parsed.Settings.UsageRequested || parsed.TokenCount + TokensTheSweepAdds > MostTokens) {
    std::string text = CoreTextToUtf8(console.Text);
    if (parsed.TokenCount + TokensTheSweepAdds > MostTokens) text += "quorvex-sweep: too many switches after --\n";
    return Refuse(text + "quorvex-sweep: run quorvex-sweep --help for its usage.\n", ExitCode::UsageShown);
  }
  settings = std::move(parsed.Settings);
  if (const int code = ValidateRunSettings(settings, out); code != 0) {
    return Refuse(CoreTextToUtf8(console.Text), code);
  }
  return 0;
}

}  // namespace quorvex::sweep
