// Two sweeps on one records file: the second is refused whichever way it
// names the file, the first keeps its lock through the rewrite that renames
// a new file over the records, and the records stay readable to --render.
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "records/records_file.h"
#include "records/records_lock.h"

namespace quorvex::records {
namespace {

namespace fs = std::filesystem;

class RecordsLockTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("quorvex-lock-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  // "" stays "": that file is not written.
  fs::path In(const std::string& name) const { return name.empty() ? fs::path() : dir_ / name; }

  fs::path dir_;
};

TEST_F(RecordsLockTest, ASecondSweepOnAFileTheFirstWritesIsRefused) {
  struct Case {
    const char* What;
    std::string FirstJsonl, FirstCsv, SecondJsonl, SecondCsv;
    std::string Refused;  // the file the second sweep's line names, "" when it may run
  };
  const std::vector<Case> cases = {
      {"same JSON Lines file", "a.jsonl", "a.csv", "a.jsonl", "", "a.jsonl"},
      {"same CSV, other JSON Lines file", "a.jsonl", "a.csv", "b.jsonl", "a.csv", "a.csv"},
      {"one's JSON Lines file as the other's CSV", "a.jsonl", "", "b.jsonl", "a.jsonl", "a.jsonl"},
      {"another spelling of the file", "a.jsonl", "", "./sub/../a.jsonl", "", "./sub/../a.jsonl"},
      {"other files", "a.jsonl", "a.csv", "b.jsonl", "b.csv", ""},
      {"no records files", "a.jsonl", "", "", "", ""},
      {"no file but a directory, refused when opened", "sub", "", "sub", "", ""},
      {"the first naming one file twice takes it once", "a.jsonl", "./a.jsonl", "a.jsonl", "", "a.jsonl"},
  };
  fs::create_directories(dir_ / "sub");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    RecordsLocks first;
    ASSERT_EQ(first.Take(In(c.FirstJsonl), In(c.FirstCsv)), "");
    RecordsLocks second;
    const std::string error = second.Take(In(c.SecondJsonl), In(c.SecondCsv));
    if (c.Refused.empty()) {
      EXPECT_EQ(error, "");
      EXPECT_FALSE(fs::exists(LockPathOf(In("sub"))));  // nor any beside a directory
    } else {
      EXPECT_EQ(error, In(c.Refused).u8string() + " is being written by another sweep");
      // A refused sweep holds nothing: a third may take what the first does not hold.
      first.Release();
      RecordsLocks third;
      EXPECT_EQ(third.Take(In(c.SecondJsonl), In(c.SecondCsv)), "");
    }
  }
}

TEST_F(RecordsLockTest, HeldThroughTheRewriteAndNoObstacleToReaders) {
  const fs::path jsonl = In("a.jsonl");
  RecordsLocks locks;
  ASSERT_EQ(locks.Take(jsonl, {}), "");
  HostRecord down;
  down.Host = "down";
  down.CheckedAt = "2026-12-07T14:30:00Z";
  down.ExitCode = 1;
  {
    RecordsFiles files;
    ASSERT_EQ(files.Open(jsonl, {}, RecordsMode::Fresh), "");
    ASSERT_EQ(files.Append(down), "");
    ASSERT_EQ(files.Finish(), "");
  }
  // The retry renames a new file over the records: the name is still ours.
  {
    RecordsFiles files;
    ASSERT_EQ(files.Open(jsonl, {}, RecordsMode::RetryUnreachable), "");
    down.ExitCode = 0;
    ASSERT_EQ(files.Append(down), "");
    ASSERT_EQ(files.Finish(), "");
  }
  RecordsLocks second;
  EXPECT_EQ(second.Take(jsonl, {}), jsonl.u8string() + " is being written by another sweep");
  // What --render reads is the records, not the lock.
  std::vector<HostRecord> records;
  ASSERT_EQ(ReadRecordsFile(jsonl, records), "");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records.front().ExitCode, 0);
}

}  // namespace
}  // namespace quorvex::records
