// The command line is typed by whoever runs the tool: no text may crash the
// parser, the usage decision or validation.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/command_line.h"
#include "cli/usage.h"
#include "cli/validate.h"
#include "fake_platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  quorvex::FakeStage stage;
  quorvex::ParsedCommandLine parsed = quorvex::ParseCommandLine(text, stage.Out);
  if (!quorvex::NeedsUsage(parsed.Settings, parsed.TokenCount)) {
    quorvex::ValidateRunSettings(parsed.Settings, stage.Out);
  }
  return 0;
}
