#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "core/worker_process.h"
#include "gtest/gtest.h"

namespace quorvex {
namespace {

// More than one message of the worker's socket holds.
std::string BigBytes(const std::string& pid) {
  std::string bytes = pid + ";";
  for (int i = 0; bytes.size() < 200000; ++i) bytes += std::to_string(i) + ",";
  return bytes;
}

// More messages than the sweep takes in one read, each its own send.
std::string ManyBytes(const std::string& pid) {
  std::string bytes = pid + ";";
  for (int i = 0; i < 100; ++i) bytes += std::to_string(i) + ",";
  return bytes;
}

// A job is a word: what the worker does with its host.
void Entry(std::string_view job, WorkerSend send, void* context) {
  const std::string pid = std::to_string(getpid()) + ";";
  if (job == "big") {
    send(context, BigBytes(std::to_string(getpid())));
  } else if (job == "many") {
    send(context, pid);
    for (int i = 0; i < 100; ++i) send(context, std::to_string(i) + ",");
  } else if (job == "killed") {
    send(context, pid);
    raise(SIGKILL);
  } else if (job == "exit3") {
    send(context, pid);
    _exit(3);
  } else if (job == "exit0") {
    send(context, pid);
    _exit(0);
  } else if (job == "hang") {
    send(context, pid);
    for (;;) pause();
  } else if (job == "child") {
    if (fork() == 0) {
      for (;;) pause();
    }
    send(context, pid);
  } else if (job == "thread") {
    std::thread([] {
      for (;;) pause();
    }).detach();
    send(context, pid);
  } else {
    send(context, pid);
    send(context, job);
  }
}

struct Outcome {
  std::string Bytes;
  bool Ended = false;
  bool Killed = false;
  std::string Pid() const { return Bytes.substr(0, Bytes.find(';')); }
};

Outcome RunJob(WorkerProcesses& workers, std::uint64_t id, const std::string& job, bool killAfterFirstNews = false) {
  Outcome outcome;
  EXPECT_TRUE(workers.Start(id, job));
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!outcome.Ended && std::chrono::steady_clock::now() < giveUp) {
    for (const WorkerNews& news : workers.Wait(1000)) {
      EXPECT_EQ(news.Id, id);
      outcome.Bytes += news.Bytes;
      outcome.Ended = outcome.Ended || news.Ended;
      outcome.Killed = outcome.Killed || news.Killed;
    }
    if (killAfterFirstNews && !outcome.Bytes.empty()) workers.Kill(id);
  }
  return outcome;
}

TEST(ForkedWorkers, HostAfterHostInOneProcessUntilItRetires) {
  std::unique_ptr<WorkerProcesses> workers = OpenWorkerProcesses(Entry);
  std::set<std::string> pids;
  for (std::uint64_t id = 0; id < 70; ++id) {
    const Outcome o = RunJob(*workers, id, "host" + std::to_string(id));
    ASSERT_TRUE(o.Ended);
    EXPECT_FALSE(o.Killed);
    EXPECT_EQ(o.Bytes, o.Pid() + ";host" + std::to_string(id));
    pids.insert(o.Pid());
  }
  // A worker is replaced after a bounded number of hosts, and no job is
  // lost at the change.
  EXPECT_EQ(pids.size(), 2u);
}

TEST(ForkedWorkers, HowAJobEndsAndWhetherItsWorkerServesTheNext) {
  struct Case {
    const char* Job;
    bool KillIt;
    bool WantKilled;
    bool SameWorkerAfter;
  };
  const Case cases[] = {
      {"plain", false, false, true},   {"big", false, false, true},    {"many", false, false, true},
      {"thread", false, false, false}, {"child", false, false, false}, {"killed", false, true, false},
      {"exit3", false, true, false},   {"exit0", false, false, false}, {"hang", true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Job);
    std::unique_ptr<WorkerProcesses> workers = OpenWorkerProcesses(Entry);
    const Outcome o = RunJob(*workers, 1, c.Job, c.KillIt);
    ASSERT_TRUE(o.Ended);
    EXPECT_EQ(o.Killed, c.WantKilled);
    if (std::string(c.Job) == "big") {
      EXPECT_TRUE(o.Bytes == BigBytes(o.Pid()));
    }
    if (std::string(c.Job) == "many") {
      EXPECT_EQ(o.Bytes, ManyBytes(o.Pid()));
    }
    const Outcome next = RunJob(*workers, 2, "next");
    ASSERT_TRUE(next.Ended);
    EXPECT_FALSE(next.Killed);
    EXPECT_EQ(next.Pid() == o.Pid(), c.SameWorkerAfter);
  }
}

TEST(ForkedWorkers, JobsRunSideBySideAndEachEndsOnce) {
  std::unique_ptr<WorkerProcesses> workers = OpenWorkerProcesses(Entry);
  const int jobs = 12;
  for (int id = 0; id < jobs; ++id) ASSERT_TRUE(workers->Start(id, id % 3 == 0 ? "exit3" : "plain"));
  std::map<std::uint64_t, int> ends;
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (ends.size() < jobs && std::chrono::steady_clock::now() < giveUp) {
    for (const WorkerNews& news : workers->Wait(1000)) {
      if (news.Ended) {
        ++ends[news.Id];
        EXPECT_EQ(news.Killed, news.Id % 3 == 0) << news.Id;
      }
    }
  }
  EXPECT_EQ(ends.size(), static_cast<std::size_t>(jobs));
  for (const auto& [id, count] : ends) EXPECT_EQ(count, 1) << id;
}

}  // namespace
}  // namespace quorvex
