#include "sweep/worker.h"

#include <memory>

#include "app/run_checks.h"
#include "core/output.h"
#include "core/platform.h"
#include "sweep/worker_protocol.h"

namespace quorvex::sweep {

namespace {

// The worker's lines go to the sweep, never to a console, and a hundred
// workers must not fight over the console window's title.
class SilentConsole final : public ConsoleService {
 public:
  explicit SilentConsole(ConsoleService& real) : real_(real) {}
  void WriteOutput(std::string_view) override {}
  void SetTitle(const std::string&) override {}
  void Sleep(std::uint32_t milliseconds) override { real_.Sleep(milliseconds); }

 private:
  ConsoleService& real_;
};

}  // namespace

void CheckHostInWorker(std::string_view job, WorkerSend send, void* context) {
  const std::optional<WorkerJob> decoded = DecodeJobFrame(job);
  if (!decoded) return;
  std::unique_ptr<SystemPlatform> system = OpenSystemPlatform(0, nullptr);
  Platform& real = system->Services();
  SilentConsole console(real.Console);
  Platform services{console, real.Lookup, real.Echo, real.Net, real.Files, real.Registry, real.Admin};
  FrameWriter frames(send, context, CoreTextToUtf8, decoded->MoveFacts);
  Output out(console, frames);
  out.OutputEnabled = true;
  const int code = CheckHost(decoded->Settings, services, out);
  frames.Done(code);
}

}  // namespace quorvex::sweep
