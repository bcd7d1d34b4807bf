// Workers as forked children. The sweep has loaded Samba's libraries by the
// time it forks (they are linked in), but starts none of Samba's client
// state: the platform defers it to the first remote call, which happens in
// the child, so no session, event loop or socket is ever shared by two hosts.
//
// Each child gets a process group of its own, so the terminal's Ctrl-C
// reaches the sweep alone, and a kill reaches whatever the child started
// (Samba's client forks helpers for name lookups).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <map>

#include "platform/posix/cp437.h"
#include "platform/posix/local_services.h"
#include "platform/worker_process.h"

namespace quorvex::posix {
namespace {

volatile std::sig_atomic_t interrupted = 0;
// Written by the signal handlers, read by Wait's poll: SIGCHLD and SIGINT
// wake it at once instead of at its timeout.
int wakeRead = -1;
int wakeWrite = -1;

void Wake() {
  if (wakeWrite < 0) return;
  const int saved = errno;
  const char byte = 0;
  [[maybe_unused]] const ssize_t ignored = write(wakeWrite, &byte, 1);
  errno = saved;
}

void OnInterrupt(int) {
  interrupted = 1;
  Wake();
}

void OnChildEnd(int) { Wake(); }

bool OpenWakePipe() {
  if (wakeRead >= 0) return true;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  wakeRead = fds[0];
  wakeWrite = fds[1];
  return true;
}

void SendToFd(void* context, std::string_view bytes) { WriteAll(*static_cast<int*>(context), bytes); }

struct Child {
  pid_t Pid = -1;
  int Fd = -1;  // read end of its pipe; -1 once it reached end of file
  bool Reaped = false;
  bool Killed = false;
};

class ForkedWorkers final : public WorkerProcesses {
 public:
  explicit ForkedWorkers(WorkerEntry entry) : entry_(entry) {
    OpenWakePipe();
    struct sigaction action {};
    action.sa_handler = OnChildEnd;
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigemptyset(&action.sa_mask);
    sigaction(SIGCHLD, &action, nullptr);
  }

  ~ForkedWorkers() override {
    for (auto& [id, child] : children_) {
      if (!child.Reaped) {
        kill(-child.Pid, SIGKILL);
        kill(child.Pid, SIGKILL);
        waitpid(child.Pid, nullptr, 0);
      }
      if (child.Fd >= 0) close(child.Fd);
    }
  }

  bool Start(std::uint64_t id, std::string_view job) override {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    // Whatever the parent has buffered must not be written twice.
    std::fflush(nullptr);
    const pid_t sweep = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
      close(fds[0]);
      close(fds[1]);
      return false;
    }
    if (pid == 0) RunChild(job, fds[0], fds[1], sweep);
    setpgid(pid, pid);  // also done by the child: whichever runs first
    close(fds[1]);
    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    children_[id] = Child{pid, fds[0], false, false};
    return true;
  }

  std::vector<WorkerNews> Wait(int timeoutMs) override {
    std::vector<pollfd> fds;
    std::vector<std::uint64_t> ids;
    fds.push_back(pollfd{wakeRead, POLLIN, 0});
    for (const auto& [id, child] : children_) {
      if (child.Fd < 0) continue;
      fds.push_back(pollfd{child.Fd, POLLIN, 0});
      ids.push_back(id);
    }
    std::map<std::uint64_t, WorkerNews> news;
    if (!interrupted && poll(fds.data(), fds.size(), timeoutMs) > 0) {
      if (fds[0].revents != 0) DrainWakePipe();
      for (std::size_t i = 1; i < fds.size(); ++i) {
        if (fds[i].revents != 0) ReadFrom(ids[i - 1], news);
      }
    }
    ReapEnded(news);
    std::vector<WorkerNews> list;
    for (auto& [id, item] : news) list.push_back(std::move(item));
    return list;
  }

  void Kill(std::uint64_t id) override {
    auto it = children_.find(id);
    if (it == children_.end() || it->second.Reaped) return;
    it->second.Killed = true;
    kill(-it->second.Pid, SIGKILL);
    kill(it->second.Pid, SIGKILL);
  }

 private:
  [[noreturn]] void RunChild(std::string_view job, int readFd, int writeFd, pid_t sweep) {
    close(readFd);
    setpgid(0, 0);
    // A sweep killed outright takes its workers along: a resumed sweep
    // checks their hosts again, and nobody is left talking to them.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != sweep) _exit(1);
    // The sweep's handlers are not the worker's: its interrupt is the sweep's
    // kill, and the worker's own children are its own business.
    signal(SIGINT, SIG_IGN);
    signal(SIGCHLD, SIG_DFL);
    signal(SIGPIPE, SIG_IGN);
    // Only the worker's own pipe stays open: the records files and their
    // locks, the other workers' pipes and the wake pipe are the sweep's.
    for (auto& [id, child] : children_) {
      if (child.Fd >= 0) close(child.Fd);
    }
    close(wakeRead);
    close(wakeWrite);
    CloseFileLocksInChild();
    int out = writeFd;
    entry_(job, SendToFd, &out);
    // No exit handlers and no stdio flush: they belong to the sweep.
    _exit(0);
  }

  void DrainWakePipe() {
    char buffer[256];
    while (read(wakeRead, buffer, sizeof buffer) > 0) {
    }
  }

  // Reads what there is without blocking; closes the pipe at its end.
  void ReadFrom(std::uint64_t id, std::map<std::uint64_t, WorkerNews>& news) {
    Child& child = children_[id];
    char buffer[65536];
    for (;;) {
      const ssize_t got = read(child.Fd, buffer, sizeof buffer);
      if (got > 0) {
        WorkerNews& item = news[id];
        item.Id = id;
        item.Bytes.append(buffer, static_cast<std::size_t>(got));
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
        close(child.Fd);
        child.Fd = -1;
      }
      return;
    }
  }

  // A child that exited has written everything it will: what is in its pipe
  // now is the rest, even if something it started still holds the pipe open.
  void ReapEnded(std::map<std::uint64_t, WorkerNews>& news) {
    int status = 0;
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
      auto it = children_.begin();
      while (it != children_.end() && it->second.Pid != pid) ++it;
      if (it == children_.end()) continue;
      Child& child = it->second;
      // Helpers the worker left behind go with it.
      kill(-child.Pid, SIGKILL);
      if (child.Fd >= 0) {
        ReadFrom(it->first, news);
        if (child.Fd >= 0) close(child.Fd);
      }
      WorkerNews& item = news[it->first];
      item.Id = it->first;
      item.Ended = true;
      item.Killed = child.Killed || !WIFEXITED(status) || WEXITSTATUS(status) != 0;
      children_.erase(it);
    }
  }

  WorkerEntry entry_;
  std::map<std::uint64_t, Child> children_;
};

}  // namespace
}  // namespace quorvex::posix

namespace quorvex {

std::unique_ptr<WorkerProcesses> OpenWorkerProcesses(WorkerEntry entry) {
  return std::make_unique<posix::ForkedWorkers>(entry);
}

int RunWorkerFromStandardInput(WorkerEntry) { return 2; }

void CatchInterrupt() {
  posix::OpenWakePipe();
  struct sigaction action {};
  action.sa_handler = posix::OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}

bool Interrupted() { return posix::interrupted != 0; }

std::uint64_t RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  if (limit.rlim_cur != limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY ? UINT64_MAX : static_cast<std::uint64_t>(limit.rlim_cur);
}

bool ErrorIsTerminal() { return isatty(2) == 1; }

void WriteError(std::string_view bytes) { posix::WriteAll(2, bytes); }

std::string CoreTextToUtf8(std::string_view coreText) { return posix::Cp437ToUtf8(coreText); }
std::string Utf8ToCoreText(std::string_view utf8) { return posix::Utf8ToCp437(utf8); }

std::string CommandTextOf(const std::vector<std::string>& arguments) {
  std::vector<const char*> argv{"quorvex-sweep"};
  for (const std::string& a : arguments) argv.push_back(a.c_str());
  return posix::CommandTextFromArguments(static_cast<int>(argv.size()), argv.data());
}

}  // namespace quorvex
