// Workers as processes of the sweep's own program, started with --worker.
// The job goes through the worker's standard input and its frames come back
// through its standard output: nothing but the switch --worker is on its
// command line. Each worker runs under a job object of its own, so a kill
// takes anything it started too, and the job's close takes the worker if the
// sweep itself dies. Workers have no console: the Ctrl-C of the sweep's
// console is the sweep's alone.
//
// One thread a worker reads its pipe; Wait collects what they read.
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "core/text.h"
#include "core/worker_process.h"
#include "platform/win32/win32_headers.h"

namespace quorvex {
namespace {

std::mutex newsLock;
std::condition_variable newsArrived;
volatile LONG interrupted = 0;

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  InterlockedExchange(&interrupted, 1);
  newsArrived.notify_all();
  return TRUE;
}

bool WriteAllTo(HANDLE handle, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > 0x10000 ? 0x10000 : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

void SendToHandle(void* context, std::string_view bytes) { WriteAllTo(static_cast<HANDLE>(context), bytes); }

std::wstring OwnProgram() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

struct Worker {
  HANDLE Process = nullptr;
  HANDLE Job = nullptr;
  HANDLE Output = nullptr;  // read end of the worker's standard output
  std::thread Reader;
  bool Killed = false;
};

class JobWorkers final : public WorkerProcesses {
 public:
  explicit JobWorkers() : program_(OwnProgram()) {}

  ~JobWorkers() override {
    for (auto& [id, worker] : workers_) {
      TerminateJobObject(worker->Job, 1);
      if (worker->Reader.joinable()) worker->Reader.join();
      Close(*worker);
    }
  }

  bool Start(std::uint64_t id, std::string_view job) override {
    SECURITY_ATTRIBUTES plain{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr;
    if (!CreatePipe(&inRead, &inWrite, &plain, 0)) return false;
    if (!CreatePipe(&outRead, &outWrite, &plain, 0)) {
      CloseHandle(inRead);
      CloseHandle(inWrite);
      return false;
    }
    // Only this thread starts workers, so the two ends made inheritable here
    // are the only inheritable handles when the worker is created.
    SetHandleInformation(inRead, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    SetHandleInformation(outWrite, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);

    auto worker = std::make_unique<Worker>();
    worker->Job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (worker->Job != nullptr) {
      SetInformationJobObject(worker->Job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = INVALID_HANDLE_VALUE;
    std::wstring commandLine = L"\"" + program_ + L"\" --worker";
    PROCESS_INFORMATION process{};
    const BOOL created = worker->Job != nullptr &&
                         CreateProcessW(program_.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        CREATE_SUSPENDED | DETACHED_PROCESS, nullptr, nullptr, &startup, &process);
    CloseHandle(inRead);
    CloseHandle(outWrite);
    if (!created) {
      CloseHandle(inWrite);
      CloseHandle(outRead);
      if (worker->Job != nullptr) CloseHandle(worker->Job);
      return false;
    }
    if (!AssignProcessToJobObject(worker->Job, process.hProcess)) {
      TerminateProcess(process.hProcess, 1);
    }
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    worker->Process = process.hProcess;
    worker->Output = outRead;
    // The job is small; the worker reads it at once.
    WriteAllTo(inWrite, job);
    CloseHandle(inWrite);
    Worker* raw = worker.get();
    worker->Reader = std::thread([this, id, raw] { ReadUntilEnd(id, *raw); });
    workers_[id] = std::move(worker);
    return true;
  }

  std::vector<WorkerNews> Wait(int timeoutMs) override {
    std::unique_lock<std::mutex> lock(newsLock);
    newsArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [this] { return !pending_.empty() || interrupted != 0; });
    std::map<std::uint64_t, WorkerNews> merged;
    for (WorkerNews& item : pending_) {
      WorkerNews& into = merged[item.Id];
      into.Id = item.Id;
      into.Bytes += item.Bytes;
      into.Ended = into.Ended || item.Ended;
      into.Killed = into.Killed || item.Killed;
    }
    pending_.clear();
    lock.unlock();

    std::vector<WorkerNews> list;
    for (auto& [id, item] : merged) {
      if (item.Ended) {
        auto it = workers_.find(id);
        if (it != workers_.end()) {
          it->second->Reader.join();
          item.Killed = item.Killed || it->second->Killed;
          Close(*it->second);
          workers_.erase(it);
        }
      }
      list.push_back(std::move(item));
    }
    return list;
  }

  void Kill(std::uint64_t id) override {
    auto it = workers_.find(id);
    if (it == workers_.end()) return;
    it->second->Killed = true;
    TerminateJobObject(it->second->Job, 1);
  }

 private:
  void ReadUntilEnd(std::uint64_t id, Worker& worker) {
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(worker.Output, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      Push(WorkerNews{id, std::string(buffer, got), false, false});
    }
    WaitForSingleObject(worker.Process, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(worker.Process, &status);
    Push(WorkerNews{id, {}, true, status != 0});
  }

  void Push(WorkerNews news) {
    {
      std::lock_guard<std::mutex> lock(newsLock);
      pending_.push_back(std::move(news));
    }
    newsArrived.notify_all();
  }

  static void Close(Worker& worker) {
    if (worker.Output != nullptr) CloseHandle(worker.Output);
    if (worker.Process != nullptr) CloseHandle(worker.Process);
    if (worker.Job != nullptr) CloseHandle(worker.Job);
    worker.Output = worker.Process = worker.Job = nullptr;
  }

  std::wstring program_;
  std::map<std::uint64_t, std::unique_ptr<Worker>> workers_;
  std::vector<WorkerNews> pending_;  // guarded by newsLock
};

std::string Convert(std::string_view text, UINT from, UINT to) {
  if (text.empty()) return {};
  const int wide = MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring units(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), units.data(), wide);
  const int size = WideCharToMultiByte(to, 0, units.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(to, 0, units.data(), wide, out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace

std::unique_ptr<WorkerProcesses> OpenWorkerProcesses(WorkerEntry) { return std::make_unique<JobWorkers>(); }

int RunWorkerFromStandardInput(WorkerEntry entry) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  std::string job;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got > 0) job.append(buffer, got);
  entry(job, SendToHandle, out);
  return 0;
}

void CatchInterrupt() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

bool Interrupted() { return interrupted != 0; }

std::uint64_t RaiseOpenFileLimit() { return UINT64_MAX; }

bool ErrorIsTerminal() {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(error, &mode) == 0) return false;
  // The progress line clears its tail with an escape sequence, which a
  // console obeys only in this mode (Windows 10 and later).
  constexpr DWORD VirtualTerminalProcessing = 0x0004;
  return SetConsoleMode(error, mode | VirtualTerminalProcessing) != 0;
}

void WriteError(std::string_view bytes) { WriteAllTo(GetStdHandle(STD_ERROR_HANDLE), bytes); }

std::string CoreTextToUtf8(std::string_view coreText) { return Convert(coreText, CP_ACP, CP_UTF8); }
std::string Utf8ToCoreText(std::string_view utf8) { return Convert(utf8, CP_UTF8, CP_ACP); }

std::string CommandTextOf(const std::vector<std::string>& arguments) { return JoinCommandText(arguments); }

}  // namespace quorvex
