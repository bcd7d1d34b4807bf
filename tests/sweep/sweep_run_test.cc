// The worker frames and the pool's books, against scripted workers and a
// scripted clock: what each way a worker can end makes of its record.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "core/exit_codes.h"
#include "core/output.h"
#include "sweep/pool.h"
#include "sweep/worker_protocol.h"

namespace quorvex::sweep {
namespace {

std::string Frames(void (*write)(FrameWriter&)) {
  std::string bytes;
  FrameWriter writer([](void* c, std::string_view b) { static_cast<std::string*>(c)->append(b); }, &bytes,
                     [](std::string_view t) { return std::string(t); });
  write(writer);
  return bytes;
}

// Feeds the bytes one at a time, as a pipe may hand them over.
bool ApplyAll(const std::string& bytes, records::HostRecord& record, RunProgress& done) {
  FrameReader reader;
  for (char c : bytes) {
    reader.Feed(std::string_view(&c, 1));
    while (std::optional<Frame> frame = reader.Next()) {
      if (!ApplyFrame(*frame, record, done)) return false;
    }
  }
  return !reader.Broken() && !reader.Partial();
}

TEST(WorkerFrames, EveryFindingReachesTheRecord) {
  const std::string bytes = Frames([](FrameWriter& w) {
    w.Line(" + Resolved hostname to: 10.0.0.1");
    w.Text(Fact::Address, "10.0.0.1");
    w.Text(Fact::FullName, "pc1.example");
    w.Text(Fact::NetBiosName, "PC1");
    w.Text(Fact::Domain, "SALES");
    w.Text(Fact::ProductType, "WinNT");
    w.Text(Fact::OsVersion, "10.0");
    w.Flag(Fact::AdminShare, false);
    w.Number(Fact::FreeBytes, 0x123456789ULL);
    w.FailedCall("RegConnectRegistry", -1073741790);
    w.Line("");
    w.Done(144);
  });
  records::HostRecord r;
  RunProgress done;
  ASSERT_TRUE(ApplyAll(bytes, r, done));
  EXPECT_TRUE(done.Done);
  EXPECT_EQ(r.ExitCode, 144);
  EXPECT_EQ(r.Lines, (std::vector<std::string>{" + Resolved hostname to: 10.0.0.1", ""}));
  EXPECT_EQ(r.Address, "10.0.0.1");
  EXPECT_EQ(r.FullName, "pc1.example");
  EXPECT_EQ(r.NetbiosName, "PC1");
  EXPECT_EQ(r.Domain, "SALES");
  EXPECT_EQ(r.ProductType, "WinNT");
  EXPECT_EQ(r.OsVersion, "10.0");
  EXPECT_EQ(r.AdminShare, false);
  EXPECT_EQ(r.FreeBytes, 0x123456789ULL);
  ASSERT_EQ(r.Errors.size(), 1u);
  EXPECT_EQ(r.Errors[0].Call, "RegConnectRegistry");
  EXPECT_EQ(r.Errors[0].Status, -1073741790);
}

// The facts beyond the checks arrive after the checks' code, as lists whose
// opening item makes "read, none found" differ from "never read".
TEST(WorkerFrames, MoveFactsReachTheRecordAfterTheChecks) {
  const std::string bytes = Frames([](FrameWriter& w) {
    w.Text(Fact::Domain, "OLDDOM");
    w.Checked(16);
    w.Text(Fact::ClockSkew, "-600.0");
    w.Text(Fact::DnsDomain, "old.example");
    w.Item(Fact::RebootPending, {});
    w.Item(Fact::RebootPending, {"file-rename"});
    w.Item(Fact::DomainService, {"Backup", "Nightly backup", "OLDDOM\\svc-backup", "automatic", "running"});
    w.Item(Fact::LocalAdmin, {"S-1-5-21-1-2-3-512", "Domain Admins", "OLDDOM", "group"});
    w.Item(Fact::Profile, {});
    w.Done(16);
  });
  records::HostRecord r;
  RunProgress progress;
  ASSERT_TRUE(ApplyAll(bytes, r, progress));
  EXPECT_TRUE(progress.Checked && progress.Done);
  EXPECT_EQ(r.ExitCode, 16);
  const records::MoveFacts& m = r.Move;
  EXPECT_EQ(m.ClockSkewS, -600.0);
  EXPECT_EQ(m.DnsDomain, "old.example");
  EXPECT_EQ(m.RebootPending, std::vector<std::string>{"file-rename"});
  ASSERT_TRUE(m.DomainServices && m.DomainServices->size() == 1);
  EXPECT_EQ(m.DomainServices->front().Account, "OLDDOM\\svc-backup");
  ASSERT_TRUE(m.LocalAdmins && m.LocalAdmins->size() == 1);
  EXPECT_EQ(m.LocalAdmins->front().Kind, "group");
  EXPECT_TRUE(m.Profiles && m.Profiles->empty());
  EXPECT_FALSE(m.RemoteRegistry);

  CompleteRecord(r, "");
  EXPECT_EQ(r.Move.OldDomain, "OLDDOM");
  EXPECT_EQ(r.Move.Blockers,
            (std::vector<std::string>{"clock", "reboot-pending", "old-domain-services", "old-domain-admins"}));
  EXPECT_EQ(r.ExitCode, 16);
}

TEST(WorkerFrames, JobCarriesEverySetting) {
  RunSettings s;
  s.Host = std::string("PC\0\x84", 4);
  s.CurrentDomain = "OLD";
  s.TargetDomain = "NEW";
  s.FreeSpaceText = "&17";
  s.RequiredFreeBytes = 15 << 20;
  s.SkipFreeSpace = s.WorkstationOnly = s.PingFirst = s.Verbose = true;
  const std::optional<WorkerJob> job = DecodeJobFrame(EncodeJob({s, false}));
  ASSERT_TRUE(job);
  EXPECT_FALSE(job->MoveFacts);
  EXPECT_TRUE(DecodeJobFrame(EncodeJob({s, true}))->MoveFacts);
  const RunSettings* back = &job->Settings;
  EXPECT_EQ(back->Host, s.Host);
  EXPECT_EQ(back->CurrentDomain, "OLD");
  EXPECT_EQ(back->TargetDomain, "NEW");
  EXPECT_EQ(back->FreeSpaceText, "&17");
  EXPECT_EQ(back->RequiredFreeBytes, s.RequiredFreeBytes);
  EXPECT_TRUE(back->SkipFreeSpace && back->WorkstationOnly && back->PingFirst && back->Verbose);
  EXPECT_FALSE(back->IgnoreNameMismatch || back->AllowNt4 || back->RetryAlternateName);

  const std::string bytes = EncodeJob({s, true});
  EXPECT_FALSE(DecodeJobFrame(bytes.substr(0, bytes.size() - 1)));
  EXPECT_FALSE(DecodeJobFrame(bytes + bytes));
  EXPECT_FALSE(DecodeJobFrame(EncodeFrame(EventKind::Line, bytes.substr(5))));
}

TEST(WorkerFrames, NonsenseBreaksTheStream) {
  const std::string fact(1, static_cast<char>(Fact::FreeBytes));
  const struct {
    const char* Name;
    std::string Bytes;
  } cases[] = {
      {"unknown kind", EncodeFrame(static_cast<EventKind>(99), "x")},
      {"fact out of range", EncodeFrame(EventKind::Text, "\x20value")},
      {"number of a text fact", EncodeFrame(EventKind::Number, std::string(1, '\0') + std::string(8, '\1'))},
      {"short number", EncodeFrame(EventKind::Number, fact + "1234")},
      {"flag neither 0 nor 1",
       EncodeFrame(EventKind::Flag, std::string(1, static_cast<char>(Fact::AdminShare)) + "\2")},
      {"short failed call", EncodeFrame(EventKind::FailedCall, "1234")},
      {"long done", EncodeFrame(EventKind::Done, "123")},
      {"oversized length", std::string("\1\xff\xff\xff\x7f", 5)},
      {"torn frame", EncodeFrame(EventKind::Line, "a line").substr(0, 7)},
      {"item of a text fact", Frames([](FrameWriter& w) { w.Item(Fact::Domain, {"x"}); })},
      {"item with a field too few", Frames([](FrameWriter& w) {
         w.Item(Fact::LocalAdmin, {"S-1-5-32-544", "x", "y"});
       })},
      {"remote registry without fields", Frames([](FrameWriter& w) { w.Item(Fact::RemoteRegistry, {}); })},
      {"skew that is no number", Frames([](FrameWriter& w) { w.Text(Fact::ClockSkew, "soon"); })},
      {"skew with two decimals", Frames([](FrameWriter& w) { w.Text(Fact::ClockSkew, "1.25"); })},
      {"checked twice", Frames([](FrameWriter& w) { w.Checked(0), w.Checked(0); })},
      {"done changes the checked code", Frames([](FrameWriter& w) { w.Checked(16), w.Done(0); })},
  };
  for (const auto& c : cases) {
    records::HostRecord r;
    RunProgress done;
    EXPECT_FALSE(ApplyAll(c.Bytes, r, done)) << c.Name;
  }
}

class NoConsole : public ConsoleService {
 public:
  void WriteOutput(std::string_view) override {}
  void SetTitle(const std::string&) override {}
  void Sleep(std::uint32_t) override {}
};

TEST(SharedSwitches, HostQuietAndVerboseAreRefusedWhereTheyAreSwitches) {
  const struct {
    const char* Text;
    const char* Refused;
    const char* CurrentDomain;
    bool Usage;
  } cases[] = {
      {"/C OLD /T NEW /D", "", "OLD", false},
      {"-m pc1", "-M", "", false},
      {"/q", "/Q", "", false},
      {"/D /V /M pc1", "/V", "", false},
      {"/C /V", "", "/V", false},  // a value, as the single tool reads it
      {"/M", "/M", "", false},
      {"/X", "", "", true},
  };
  for (const auto& c : cases) {
    NoConsole console;
    Output out(console);
    std::string refused;
    const ParsedCommandLine parsed = ParseSharedSwitches(c.Text, out, refused);
    EXPECT_EQ(refused, c.Refused) << c.Text;
    EXPECT_EQ(parsed.Settings.CurrentDomain, c.CurrentDomain) << c.Text;
    EXPECT_EQ(parsed.Settings.UsageRequested, c.Usage) << c.Text;
    EXPECT_TRUE(parsed.Settings.Host.empty() && !parsed.Settings.Verbose && out.OutputEnabled) << c.Text;
  }
}

// Scripted workers: each host's script says what its worker sends and when
// it ends; a worker with no end runs until killed.
struct Step {
  std::int64_t AtMs;
  std::string Bytes;
  bool Ends = false;
  bool Killed = false;
};

class ScriptedWorkers : public WorkerProcesses {
 public:
  std::map<std::string, std::vector<Step>> Scripts;  // by host
  std::set<std::string> FailToStart;
  std::int64_t Now = 0;
  std::int64_t InterruptAt = -1;
  int Running = 0;
  int MostRunning = 0;

  bool Start(std::uint64_t id, std::string_view job) override {
    const std::string host = DecodeJobFrame(job)->Settings.Host;
    if (FailToStart.count(host)) return false;
    for (Step step : Scripts[host]) {
      step.AtMs += Now;
      pending_[id].push_back(step);
    }
    MostRunning = std::max(MostRunning, ++Running);
    return true;
  }

  std::vector<WorkerNews> Wait(int timeoutMs) override {
    std::int64_t until = Now + timeoutMs;
    for (auto& [id, steps] : pending_) {
      if (!steps.empty()) until = std::min(until, steps.front().AtMs);
    }
    Now = std::max(Now, until);
    std::vector<WorkerNews> news;
    for (auto it = pending_.begin(); it != pending_.end();) {
      WorkerNews item{it->first, {}, false, false};
      auto& steps = it->second;
      while (!steps.empty() && steps.front().AtMs <= Now && !item.Ended) {
        item.Bytes += steps.front().Bytes;
        item.Ended = steps.front().Ends;
        item.Killed = steps.front().Killed;
        steps.erase(steps.begin());
      }
      if (!item.Bytes.empty() || item.Ended) news.push_back(item);
      if (item.Ended) {
        --Running;
        it = pending_.erase(it);
      } else {
        ++it;
      }
    }
    return news;
  }

  void Kill(std::uint64_t id) override {
    auto& steps = pending_[id];
    steps.clear();
    steps.push_back(Step{Now, {}, true, true});
  }

 private:
  std::map<std::uint64_t, std::vector<Step>> pending_;
};

std::string Line(const std::string& text) { return EncodeFrame(EventKind::Line, text); }
std::string Done(int code) {
  return Frames(code == 0 ? [](FrameWriter& w) { w.Done(0); } : [](FrameWriter& w) { w.Done(64); });
}

struct PoolRun {
  std::map<std::string, records::HostRecord> Records;
  int RecordCount = 0;
  std::set<std::string> Stopped;
  PoolEnd End = PoolEnd::Finished;
  bool Finished = false;
};

// unwritable: the host whose record cannot be kept, as on a full disk.
PoolRun RunPool(ScriptedWorkers& workers, const std::vector<std::string>& hosts, int jobs,
                const std::string& unwritable = {}) {
  std::vector<PoolJob> list;
  for (const std::string& host : hosts) {
    PoolJob job;
    job.Listed = host;
    job.Settings.Host = host;
    list.push_back(job);
  }
  PoolClock clock{[&] { return workers.Now; }, [] { return std::string("2026-01-01T00:00:00Z"); },
                  [&] { return workers.InterruptAt >= 0 && workers.Now >= workers.InterruptAt; }};
  SweepPool pool(workers, clock, jobs, 1000);
  PoolRun run;
  run.End = pool.Run(
      list,
      [&](records::HostRecord& r) {
        if (r.Host == unwritable) return false;
        run.Records[r.Host] = r;
        ++run.RecordCount;
        return true;
      },
      [&](const std::string& host) { EXPECT_TRUE(run.Stopped.insert(host).second) << host; }, nullptr, 250);
  run.Finished = run.End == PoolEnd::Finished;
  return run;
}

std::string Checked(int code) {
  return Frames(code == 0 ? [](FrameWriter& w) { w.Checked(0); } : [](FrameWriter& w) { w.Checked(64); });
}

TEST(SweepPool, HowAWorkerEndsDecidesItsRecord) {
  const struct {
    const char* Host;
    std::vector<Step> Script;
    int ExitCode;
    bool TimedOut;
    bool Crashed;
    std::size_t Lines;
    std::int64_t ElapsedMs;
  } cases[] = {
      {"passes", {{10, Line(" + ok") + Done(0)}, {20, "", true}}, 0, false, false, 1, 20},
      {"dies after its end", {{10, Done(64)}, {20, "", true, true}}, 64, false, false, 0, 20},
      {"exits without an end", {{10, Line(" + one")}, {20, "", true}}, 2, false, true, 1, 20},
      {"killed by a signal", {{10, Line(" + one")}, {20, "", true, true}}, 2, false, true, 1, 20},
      {"hangs", {{10, Line(" + one") + Line(" + two")}}, 2, true, false, 2, 1000},
      {"says nonsense", {{10, "\x63garbage"}, {20, "", true}}, 2, false, true, 0, 20},
      {"torn last frame", {{10, Line(" + one") + Done(0).substr(0, 3)}, {20, "", true}}, 2, false, true, 1, 20},
      {"frames after its end", {{10, Done(0) + Line(" + late")}, {20, "", true}}, 2, false, true, 0, 20},
      {"never starts", {}, 2, false, true, 0, 0},
      // Facts beyond the checks that run into the deadline never change
      // the checks' code: the host is neither timed out nor crashed.
      {"hangs after its checks", {{10, Line(" + one") + Checked(64)}}, 64, false, false, 1, 1000},
      {"dies after its checks", {{10, Checked(0)}, {20, "", true, true}}, 0, false, false, 0, 20},
  };
  ScriptedWorkers workers;
  std::vector<std::string> hosts;
  for (const auto& c : cases) {
    workers.Scripts[c.Host] = c.Script;
    hosts.push_back(c.Host);
  }
  workers.FailToStart.insert("never starts");
  PoolRun run = RunPool(workers, hosts, 64);
  EXPECT_TRUE(run.Finished);
  EXPECT_EQ(run.RecordCount, static_cast<int>(std::size(cases)));
  for (const auto& c : cases) {
    const records::HostRecord& r = run.Records[c.Host];
    EXPECT_EQ(r.ExitCode, c.ExitCode) << c.Host;
    EXPECT_EQ(r.TimedOut, c.TimedOut) << c.Host;
    EXPECT_EQ(r.Crashed, c.Crashed) << c.Host;
    EXPECT_EQ(r.Lines.size(), c.Lines) << c.Host;
    EXPECT_EQ(r.ElapsedMs, c.ElapsedMs) << c.Host;
  }
}

TEST(SweepPool, NeverMoreWorkersThanJobsAndOneRecordEach) {
  for (int jobs : {1, 3, 64}) {
    ScriptedWorkers workers;
    std::vector<std::string> hosts;
    for (int i = 0; i < 10; ++i) {
      hosts.push_back("h" + std::to_string(i));
      workers.Scripts[hosts.back()] = {{5 + 7 * i, Done(0)}, {6 + 7 * i, "", true}};
    }
    workers.Scripts["h4"] = {};  // hangs to its deadline
    PoolRun run = RunPool(workers, hosts, jobs);
    EXPECT_EQ(workers.MostRunning, std::min(jobs, 10)) << jobs;
    EXPECT_EQ(run.RecordCount, 10) << jobs;
    EXPECT_EQ(run.Records.size(), 10u) << jobs;
    EXPECT_TRUE(run.Records["h4"].TimedOut) << jobs;
  }
}

TEST(SweepPool, InterruptRecordsRunningHostsTimedOutAndStartsNoMore) {
  ScriptedWorkers workers;
  workers.Scripts["quick"] = {{10, Done(0)}, {11, "", true}};
  workers.Scripts["slow1"] = {{20, Line(" + one")}, {900, Done(0)}, {901, "", true}};
  workers.Scripts["slow2"] = {{900, Done(0)}, {901, "", true}};
  workers.Scripts["later"] = {};  // started when "quick" ended; hangs
  workers.Scripts["unstarted"] = {{10, Done(0)}, {11, "", true}};
  workers.InterruptAt = 100;
  PoolRun run = RunPool(workers, {"quick", "slow1", "slow2", "later", "unstarted"}, 3);
  EXPECT_EQ(run.End, PoolEnd::Interrupted);
  EXPECT_EQ(run.RecordCount, 4);
  EXPECT_EQ(run.Records.count("unstarted"), 0u);
  EXPECT_EQ(run.Records["quick"].ExitCode, 0);
  for (const char* host : {"slow1", "slow2", "later"}) {
    EXPECT_TRUE(run.Records[host].TimedOut) << host;
    EXPECT_FALSE(run.Records[host].Crashed) << host;
    EXPECT_EQ(run.Records[host].ExitCode, ExitCode::NoManagement) << host;
  }
  EXPECT_EQ(run.Records["slow1"].Lines.size(), 1u);
}

// A record that cannot be written ends the sweep at once and says so: the
// hosts running then are stopped, neither timed out nor crashed, and nothing
// further starts or is recorded.
TEST(SweepPool, UnwritableRecordStopsRunningHostsWithoutRecords) {
  ScriptedWorkers workers;
  workers.Scripts["first"] = {{10, Done(0)}, {11, "", true}};
  workers.Scripts["full"] = {{50, Done(0)}, {51, "", true}};
  workers.Scripts["slow"] = {{20, Line(" + one")}, {900, Done(0)}, {901, "", true}};
  workers.Scripts["same-moment"] = {{50, Done(0)}, {51, "", true}};
  workers.Scripts["next"] = {};
  workers.Scripts["unstarted"] = {{10, Done(0)}, {11, "", true}};
  PoolRun run = RunPool(workers, {"first", "full", "slow", "same-moment", "next", "unstarted"}, 4, "full");
  EXPECT_EQ(run.End, PoolEnd::Unrecorded);
  EXPECT_EQ(run.RecordCount, 1);
  EXPECT_EQ(run.Records.count("first"), 1u);
  EXPECT_EQ(run.Stopped, (std::set<std::string>{"slow", "same-moment", "next"}));
  EXPECT_EQ(workers.Running, 0);
  EXPECT_LT(workers.Now, 900);  // the slow host was ended, not waited for
}

}  // namespace
}  // namespace quorvex::sweep
