// The process services of the fleet sweep: worker processes that check hosts,
// killed at will; the interrupt key; the descriptor limit; text at the edges.
//
// A job is one host: its worker sends the findings as frames (the bytes of
// sweep/worker_protocol.h) to the sweep, which hears them through Wait. On
// Linux a worker is forked from the sweep, which has already loaded Samba's
// libraries, and checks host after host, so a host pays neither their load
// nor a process; on Windows each host gets the sweep's own program started
// again with --worker under a job object. The host and the
// switches never pass through a command line: the job is handed over in
// memory (fork) or through the worker's standard input.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

// What a worker runs: does the job (bytes the sweep made, opaque here),
// handing what it has to say to send(context, bytes). Runs in the worker
// process only.
using WorkerSend = void (*)(void* context, std::string_view bytes);
using WorkerEntry = void (*)(std::string_view job, WorkerSend send, void* context);

// What Wait reports of one job.
struct WorkerNews {
  std::uint64_t Id = 0;
  std::string Bytes;    // what its worker sent since the last news, in order
  bool Ended = false;   // the job is over; nothing more will come of it
  bool Killed = false;  // its worker died of a signal, a kill or an abnormal exit
};

class WorkerProcesses {
 public:
  virtual ~WorkerProcesses() = default;
  // Gives the job to a worker, started for it if none is free; false when no
  // process could be started, and then nothing is ever reported for this id.
  virtual bool Start(std::uint64_t id, std::string_view job) = 0;
  // Waits at most timeoutMs for news of any worker and returns all there is;
  // returns early on an interrupt.
  virtual std::vector<WorkerNews> Wait(int timeoutMs) = 0;
  // Ends the job's worker (and anything it started) now; Wait still reports
  // the job's end.
  virtual void Kill(std::uint64_t id) = 0;
};

// `entry` is what each worker runs.
std::unique_ptr<WorkerProcesses> OpenWorkerProcesses(WorkerEntry entry);

// On Windows the sweep started with --worker: reads the job from standard
// input, runs entry, writes the frames to standard output; returns the exit
// status. On Linux a worker is never started this way and this returns 2.
int RunWorkerFromStandardInput(WorkerEntry entry);

// From here on SIGINT (Ctrl-C, Ctrl-Break on Windows) sets a flag instead of
// ending the sweep, and wakes a Wait in progress.
void CatchInterrupt();
bool Interrupted();

// Raises the limit of open files as far as the system lets; returns the
// number of descriptors now allowed (or a large number where there is no
// such limit).
std::uint64_t RaiseOpenFileLimit();

// Whether standard error is a terminal (a console on Windows).
bool ErrorIsTerminal();
// Writes bytes (UTF-8) to standard error as they are.
void WriteError(std::string_view bytes);

// The core's 8-bit text and UTF-8, both ways: records and lists are UTF-8.
std::string CoreTextToUtf8(std::string_view coreText);
std::string Utf8ToCoreText(std::string_view utf8);

// Arguments of the sweep's command line (UTF-8 on Linux, the ANSI code page
// on Windows) joined into the core's command text, as the single tool makes
// its own from its command line.
std::string CommandTextOf(const std::vector<std::string>& arguments);

}  // namespace quorvex
