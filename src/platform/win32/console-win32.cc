#include "platform/win32/win32_backend.h"
#include "platform/win32/win32_headers.h"

namespace quorvex::win32 {

std::string CutProgramName(std::string_view line) {
  std::size_t pos = 0;
  if (!line.empty() && line[0] == '"') {
    std::size_t close = line.find('"', 1);
    pos = close == std::string_view::npos ? line.size() : close + 1;
  } else {
    while (pos < line.size() && static_cast<unsigned char>(line[pos]) > 32) ++pos;
  }
  while (pos < line.size() && line[pos] == ' ') ++pos;
  return std::string(line.substr(pos));
}

namespace {

class Win32Console : public ConsoleService {
 public:
  // WriteFile, not the C runtime: its text mode would turn our CR LF into
  // CR CR LF, and a batch file reading our output must see the bytes we wrote.
  void WriteOutput(std::string_view bytes) override {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    while (!bytes.empty()) {
      DWORD chunk = bytes.size() > 0x10000 ? 0x10000 : static_cast<DWORD>(bytes.size());
      DWORD written = 0;
      if (!WriteFile(out, bytes.data(), chunk, &written, nullptr) || written == 0) return;
      bytes.remove_prefix(written);
    }
  }

  // Fails without a console window (redirected runs, services); the title is
  // only a courtesy to whoever watches, so the failure changes nothing.
  void SetTitle(const std::string& title) override { SetConsoleTitleA(title.c_str()); }

  void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }
};

}  // namespace

std::unique_ptr<ConsoleService> MakeConsoleService() { return std::make_unique<Win32Console>(); }

}  // namespace quorvex::win32
