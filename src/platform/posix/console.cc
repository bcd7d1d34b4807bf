// Standard output carries the core's code page 437 bytes as UTF-8, because a
// Linux terminal or a file read by Linux tools expects it. The window title
// goes to the controlling terminal only, never into redirected output.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "core/text.h"
#include "platform/posix/local_services.h"

namespace quorvex::posix {

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(written));
    } else if (written < 0 && errno == EINTR) {
      continue;
    } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd pfd{fd, POLLOUT, 0};
      poll(&pfd, 1, -1);
    } else {
      return;
    }
  }
}

namespace {

class TerminalConsole : public ConsoleService {
 public:
  void WriteOutput(std::string_view bytes) override { WriteAll(1, Cp437ToUtf8(bytes)); }

  void SetTitle(const std::string& title) override {
    // Opening /dev/tty succeeds exactly when the process has a controlling
    // terminal; O_NOCTTY keeps us from acquiring one.
    const int tty = open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) return;
    WriteAll(tty, TerminalTitleSequence(title));
    close(tty);
  }

  void Sleep(std::uint32_t milliseconds) override {
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }
};

}  // namespace

std::unique_ptr<ConsoleService> OpenConsole() { return std::make_unique<TerminalConsole>(); }

// A title is shown, never obeyed: control bytes would let a remote host's
// name steer the terminal.
std::string TerminalTitleSequence(const std::string& title) {
  std::string clean;
  for (const char c : title) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) clean += c;
  }
  return "\x1b]0;" + Cp437ToUtf8(clean) + "\a";
}

std::string CommandTextFromArguments(int argc, const char* const* argv) {
  // Quotes put back what the shell took away.
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(Utf8ToCp437(argv[i]));
  return JoinCommandText(arguments);
}

}  // namespace quorvex::posix
