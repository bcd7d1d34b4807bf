#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "platform/posix/local_services.h"

namespace quorvex::posix {
namespace {

struct TitleCase {
  const char* Name;
  std::string Title;
  std::string Sequence;
};

TEST(Console, TitleSequence) {
  // clang-format off
  const TitleCase cases[] = {
      {"plain", "PC1: Checking NetBIOS name...", "\x1b]0;PC1: Checking NetBIOS name...\a"},
      {"code page 437 letters", "M\x9A" "LLER", "\x1b]0;M\xC3\x9CLLER\a"},
      {"escape cannot end the title early", "A\x1b]0;evil\aB", "\x1b]0;A]0;evilB\a"},
      {"newline, tab and delete dropped", "A\r\n\tB\x7F", "\x1b]0;AB\a"},
      {"empty", "", "\x1b]0;\a"},
  };
  // clang-format on
  for (const TitleCase& c : cases) EXPECT_EQ(TerminalTitleSequence(c.Title), c.Sequence) << c.Name;
}

// Runs `body` in a child without a controlling terminal whose standard output
// is a non-blocking pipe, and returns what it wrote there.
template <class Body>
std::string CaptureDetached(Body body) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  const pid_t child = fork();
  if (child == 0) {
    setsid();
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    fcntl(1, F_SETFL, fcntl(1, F_GETFL) | O_NONBLOCK);
    body();
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  char buffer[4096];
  for (ssize_t got; (got = read(fds[0], buffer, sizeof buffer)) != 0;) {
    if (got > 0) out.append(buffer, static_cast<std::size_t>(got));
    else if (errno != EINTR) break;
  }
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  return out;
}

TEST(Console, OutputIsUtf8AndTitleNeverReachesIt) {
  const std::string out = CaptureDetached([] {
    const std::unique_ptr<ConsoleService> console = OpenConsole();
    console->SetTitle("PC1: Checking NetBIOS name...");
    console->WriteOutput(" + Host in domain: \x8E\r\n\r\n\aBOGUS was unexpected.\r\n");
  });
  EXPECT_EQ(out, " + Host in domain: \xC3\x84\r\n\r\n\aBOGUS was unexpected.\r\n");
}

TEST(Console, LargeOutputSurvivesShortWrites) {
  // Far beyond a pipe's buffer, written to a non-blocking descriptor.
  const std::string input(300000, '\xB0');
  const std::string out = CaptureDetached([&] { OpenConsole()->WriteOutput(input); });
  ASSERT_EQ(out.size(), 3 * input.size());
  EXPECT_EQ(out.substr(0, 6), "\xE2\x96\x91\xE2\x96\x91");
  EXPECT_EQ(out.find_first_not_of("\xE2\x96\x91"), std::string::npos);
}

TEST(Console, SleepWaitsTheMilliseconds) {
  const auto start = std::chrono::steady_clock::now();
  OpenConsole()->Sleep(120);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(120));
  EXPECT_LT(elapsed, std::chrono::milliseconds(1000));
}

}  // namespace
}  // namespace quorvex::posix
