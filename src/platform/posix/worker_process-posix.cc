// Workers as forked children. The sweep has loaded Samba's libraries by the
// time it forks (they are linked in, and the check of their release is made
// before the first fork), but starts none of Samba's client state: the
// platform defers it to the first remote call, which happens in the child. A
// worker checks one host at a time, each with a platform of its own, so no
// session, event loop or socket is ever shared by two hosts; a worker killed
// at a deadline or dead of a crash is simply replaced.
//
// Each child gets a process group of its own, so the terminal's Ctrl-C
// reaches the sweep alone, and a kill reaches whatever the child started
// (Samba's client forks helpers for name lookups).
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "core/worker_process.h"
#include "platform/posix/local_services.h"
#include "platform/posix/samba/session_pool.h"

namespace quorvex::posix {
namespace {

volatile std::sig_atomic_t interrupted = 0;
// Set when a child may have ended; the sweep reaps only then, not on every
// message a worker sends.
volatile std::sig_atomic_t childEnded = 1;
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

void OnChildEnd(int) {
  childEnded = 1;
  Wake();
}

bool OpenWakePipe() {
  if (wakeRead >= 0) return true;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  wakeRead = fds[0];
  wakeWrite = fds[1];
  return true;
}

// A worker checks host after host: the process, its relocations and
// Samba's lazily loaded modules are paid for once, not per host. It is
// replaced after this many hosts, so whatever a check leaves behind in the
// process cannot pile up.
constexpr int JobsPerWorker = 64;

// Between the sweep and a worker runs one datagram socket pair, so messages
// keep their bounds: the sweep sends each job as one message; the worker
// answers with messages that start with one of these bytes.
constexpr char DataMessage = 'D';      // then bytes the job sent
constexpr char EndedMessage = 'E';     // the job ended; ready for the next
constexpr char RetiringMessage = 'R';  // the job ended; the worker exits
// Sent in pieces well below the socket's buffer, which bounds a message.
constexpr std::size_t MessageData = 32 * 1024;
// A worker sends each finding as it comes, some thirty a host. Woken for
// each, the sweep spent more on a host than a third of what the worker did
// (a wake is a context switch); while several workers run, reading at most
// this often lets their news gather in the sockets, and a host's deadline,
// in seconds, does not notice it. One worker's news is read as it comes.
constexpr int NewsGapMs = 10;
// Messages taken in one call: what a worker sends in a gap, mostly.
constexpr std::size_t MessagesPerRead = 16;

std::int64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

struct WorkerSocket {
  int Fd = -1;
};

void SendMessage(int fd, char kind, std::string_view bytes) {
  std::string message(1, kind);
  message.append(bytes.data(), bytes.size());
  while (send(fd, message.data(), message.size(), MSG_NOSIGNAL) < 0 && errno == EINTR) {
  }
}

void SendData(void* context, std::string_view bytes) {
  const int fd = static_cast<WorkerSocket*>(context)->Fd;
  do {
    const std::string_view piece = bytes.substr(0, MessageData);
    SendMessage(fd, DataMessage, piece);
    bytes.remove_prefix(piece.size());
  } while (!bytes.empty());
}

// The next job, blocking; nullopt once the sweep closed its end.
std::optional<std::string> ReceiveJob(int fd) {
  for (;;) {
    char probe = 0;
    const ssize_t size = recv(fd, &probe, 1, MSG_PEEK | MSG_TRUNC);
    if (size < 0 && errno == EINTR) continue;
    if (size <= 0) return std::nullopt;
    std::string job(static_cast<std::size_t>(size), '\0');
    const ssize_t got = recv(fd, job.data(), job.size(), 0);
    if (got < 0 && errno == EINTR) continue;
    if (got != size) return std::nullopt;
    return job;
  }
}

// Whether the process is as clean as a fresh worker for the next host: a
// check that abandoned a bounded lookup leaves its thread running, one that
// started a helper may leave the helper.
bool CleanForNextJob() {
  pid_t child;
  while ((child = waitpid(-1, nullptr, WNOHANG)) > 0) {
  }
  if (child == 0) return false;  // a child still runs
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return false;
  int threads = 0;
  while (const dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] != '.') ++threads;
  }
  closedir(tasks);
  return threads == 1;
}

struct Worker {
  pid_t Pid = -1;
  int Fd = -1;  // the sweep's end of the socket; -1 once closed
  bool Busy = false;
  std::uint64_t Job = 0;  // what it runs while busy
  bool Killed = false;
  bool Retiring = false;  // takes no further job
  int JobsStarted = 0;
};

class ForkedWorkers final : public WorkerProcesses {
 public:
  explicit ForkedWorkers(WorkerEntry entry) : entry_(entry) {
    // Asked here, once, the check of the loaded Samba (which loads one more
    // library for its version) and Samba's security modules (a tenth of a
    // worker's time, loaded with dlopen) are inherited by every worker
    // rather than loaded again in each.
    samba::SessionPool::LoadModules();
    OpenWakePipe();
    struct sigaction action {};
    action.sa_handler = OnChildEnd;
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigemptyset(&action.sa_mask);
    sigaction(SIGCHLD, &action, nullptr);
  }

  ~ForkedWorkers() override {
    for (auto& [pid, worker] : workers_) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      if (worker.Fd >= 0) close(worker.Fd);
    }
  }

  bool Start(std::uint64_t id, std::string_view job) override {
    for (;;) {
      Worker* worker = IdleWorker();
      if (worker == nullptr) worker = Fork();
      if (worker == nullptr) return false;
      if (send(worker->Fd, job.data(), job.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(job.size())) {
        worker->Busy = true;
        worker->Job = id;
        worker->Retiring = ++worker->JobsStarted >= JobsPerWorker;
        jobs_[id] = worker->Pid;
        return true;
      }
      // Gone since its last job: its end is reaped quietly.
      worker->Retiring = true;
      Stop(*worker);
    }
  }

  std::vector<WorkerNews> Wait(int timeoutMs) override {
    timeoutMs -= RestSinceLastNews(timeoutMs);
    std::vector<pollfd> fds;
    std::vector<pid_t> pids;
    fds.push_back(pollfd{wakeRead, POLLIN, 0});
    for (const auto& [pid, worker] : workers_) {
      if (worker.Fd < 0) continue;
      fds.push_back(pollfd{worker.Fd, POLLIN, 0});
      pids.push_back(pid);
    }
    std::map<std::uint64_t, WorkerNews> news;
    if (!interrupted && poll(fds.data(), fds.size(), timeoutMs) > 0) {
      if (fds[0].revents != 0) DrainWakePipe();
      for (std::size_t i = 1; i < fds.size(); ++i) {
        if (fds[i].revents != 0) ReadFrom(workers_[pids[i - 1]], news);
      }
    }
    if (childEnded) ReapEnded(news);
    std::vector<WorkerNews> list;
    for (auto& [id, item] : news) list.push_back(std::move(item));
    if (!list.empty()) lastNewsMs_ = MonotonicMs();
    return list;
  }

  void Kill(std::uint64_t id) override {
    auto it = jobs_.find(id);
    if (it == jobs_.end()) return;
    Worker& worker = workers_[it->second];
    worker.Killed = true;
    Stop(worker);
  }

 private:
  Worker* IdleWorker() {
    for (auto& [pid, worker] : workers_) {
      if (!worker.Busy && !worker.Retiring && worker.Fd >= 0) return &worker;
    }
    return nullptr;
  }

  Worker* Fork() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) return nullptr;
    // Whatever the parent has buffered must not be written twice.
    std::fflush(nullptr);
    const pid_t sweep = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
      close(fds[0]);
      close(fds[1]);
      return nullptr;
    }
    if (pid == 0) RunChild(fds[0], fds[1], sweep);
    setpgid(pid, pid);  // also done by the child: whichever runs first
    close(fds[1]);
    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    Worker& worker = workers_[pid];
    worker.Pid = pid;
    worker.Fd = fds[0];
    return &worker;
  }

  void Stop(Worker& worker) {
    kill(-worker.Pid, SIGKILL);
    kill(worker.Pid, SIGKILL);
  }

  [[noreturn]] void RunChild(int sweepEnd, int ownEnd, pid_t sweep) {
    close(sweepEnd);
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
    // Only the worker's own socket stays open: the records files and their
    // locks, the other workers' sockets and the wake pipe are the sweep's.
    for (auto& [pid, worker] : workers_) {
      if (worker.Fd >= 0) close(worker.Fd);
    }
    close(wakeRead);
    close(wakeWrite);
    CloseFileLocksInChild();
    WorkerSocket socket{ownEnd};
    for (int done = 0;;) {
      const std::optional<std::string> job = ReceiveJob(ownEnd);
      if (!job) break;
      entry_(*job, SendData, &socket);
      const bool retire = ++done >= JobsPerWorker || !CleanForNextJob();
      SendMessage(ownEnd, retire ? RetiringMessage : EndedMessage, {});
      if (retire) break;
    }
    // No exit handlers and no stdio flush: they belong to the sweep.
    _exit(0);
  }

  // Waits out what is left of the gap since the last news, at most
  // timeoutMs; an interrupt or a child's end cuts it short. Returns the
  // milliseconds waited.
  int RestSinceLastNews(int timeoutMs) {
    const std::int64_t start = MonotonicMs();
    const int rest = static_cast<int>(std::min<std::int64_t>(timeoutMs, lastNewsMs_ + NewsGapMs - start));
    if (rest <= 0 || interrupted || jobs_.size() < 2) return 0;
    pollfd wake{wakeRead, POLLIN, 0};
    poll(&wake, 1, rest);
    return static_cast<int>(MonotonicMs() - start);
  }

  void DrainWakePipe() {
    char buffer[256];
    while (read(wakeRead, buffer, sizeof buffer) > 0) {
    }
  }

  // Takes the messages there are without blocking, as many as a call
  // holds; closes the socket at its end. A message that is not one of the
  // three ends the worker: only a worker gone wrong sends one.
  void ReadFrom(Worker& worker, std::map<std::uint64_t, WorkerNews>& news) {
    if (batch_.empty()) {
      batch_.resize(MessagesPerRead * (MessageData + 1));
      headers_.resize(MessagesPerRead);
      pieces_.resize(MessagesPerRead);
    }
    for (;;) {
      for (std::size_t i = 0; i < MessagesPerRead; ++i) {
        pieces_[i] = {&batch_[i * (MessageData + 1)], MessageData + 1};
        headers_[i] = {};
        headers_[i].msg_hdr.msg_iov = &pieces_[i];
        headers_[i].msg_hdr.msg_iovlen = 1;
      }
      const int got = recvmmsg(worker.Fd, headers_.data(), MessagesPerRead, MSG_DONTWAIT, nullptr);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (got <= 0) return CloseSocket(worker);
      for (int i = 0; i < got; ++i) {
        const std::size_t size = headers_[i].msg_len;
        if (size == 0) return CloseSocket(worker);  // its end: every message has its kind
        const bool fits = (headers_[i].msg_hdr.msg_flags & MSG_TRUNC) == 0;
        if (!worker.Busy || !fits) return Stop(worker);
        const char* message = &batch_[static_cast<std::size_t>(i) * (MessageData + 1)];
        WorkerNews& item = news[worker.Job];
        item.Id = worker.Job;
        const char kind = message[0];
        if (kind == DataMessage) {
          item.Bytes.append(message + 1, size - 1);
        } else if (kind == EndedMessage || kind == RetiringMessage) {
          item.Ended = true;
          jobs_.erase(worker.Job);
          worker.Busy = false;
          worker.Retiring = worker.Retiring || kind == RetiringMessage;
        } else {
          return Stop(worker);
        }
      }
      // A short batch took what there was; whatever comes later wakes the
      // next Wait.
      if (static_cast<std::size_t>(got) < MessagesPerRead) return;
    }
  }

  void CloseSocket(Worker& worker) {
    close(worker.Fd);
    worker.Fd = -1;
  }

  // A worker that exited has written everything it will: what is in its
  // socket now is the rest, even if something it started still holds it.
  void ReapEnded(std::map<std::uint64_t, WorkerNews>& news) {
    childEnded = 0;
    int status = 0;
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
      auto it = workers_.find(pid);
      if (it == workers_.end()) continue;
      Worker& worker = it->second;
      // Helpers the worker left behind go with it.
      kill(-pid, SIGKILL);
      if (worker.Fd >= 0) {
        ReadFrom(worker, news);
        if (worker.Fd >= 0) close(worker.Fd);
      }
      if (worker.Busy) {
        WorkerNews& item = news[worker.Job];
        item.Id = worker.Job;
        item.Ended = true;
        item.Killed = worker.Killed || !WIFEXITED(status) || WEXITSTATUS(status) != 0;
        jobs_.erase(worker.Job);
      }
      workers_.erase(it);
    }
  }

  WorkerEntry entry_;
  std::map<pid_t, Worker> workers_;
  std::map<std::uint64_t, pid_t> jobs_;
  std::int64_t lastNewsMs_ = 0;
  // ReadFrom's messages, kept from one read to the next.
  std::vector<char> batch_;
  std::vector<mmsghdr> headers_;
  std::vector<iovec> pieces_;
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

std::string CoreTextToUtf8(std::string_view coreText) { return Cp437ToUtf8(coreText); }
std::string Utf8ToCoreText(std::string_view utf8) { return Utf8ToCp437(utf8); }

std::string CommandTextOf(const std::vector<std::string>& arguments) {
  std::vector<const char*> argv{"quorvex-sweep"};
  for (const std::string& a : arguments) argv.push_back(a.c_str());
  return posix::CommandTextFromArguments(static_cast<int>(argv.size()), argv.data());
}

}  // namespace quorvex
