// The records files across a killed sweep and its resume: nothing lost, no
// host twice, the CSV always the JSON Lines' twin.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "records/host_key.h"
#include "records/record_io.h"
#include "records/records_file.h"

namespace quorvex::records {
namespace {

namespace fs = std::filesystem;

class RecordsFileTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("quorvex-records-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir_);
    jsonl_ = dir_ / "sweep.jsonl";
    csv_ = dir_ / "sweep.csv";
  }
  void TearDown() override { fs::remove_all(dir_); }

  static HostRecord Record(const std::string& host, int exitCode, bool timedOut = false, bool crashed = false) {
    HostRecord r;
    r.Host = host;
    r.CheckedAt = "2026-12-07T14:30:00Z";
    r.ExitCode = exitCode;
    r.TimedOut = timedOut;
    r.Crashed = crashed;
    return r;
  }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  static void Write(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
  static std::string Lines(const std::vector<HostRecord>& records) {
    std::string text;
    for (const HostRecord& r : records) text += ToJsonLine(r) + "\n";
    return text;
  }
  static std::string Csv(const std::vector<HostRecord>& records) {
    std::string text = std::string(CsvBom) + CsvHeader();
    for (const HostRecord& r : records) text += ToCsvRow(r);
    return text;
  }

  fs::path dir_, jsonl_, csv_;
};

TEST_F(RecordsFileTest, NeverOverwritesRecordsUnasked) {
  Write(jsonl_, "");  // empty: nothing to lose
  RecordsFiles files;
  ASSERT_EQ(files.Open(jsonl_, csv_, RecordsMode::Fresh), "");
  ASSERT_EQ(files.Append(Record("pc1", 0)), "");
  // Written and flushed before Append returns: a kill now loses nothing.
  EXPECT_EQ(Read(jsonl_), Lines({Record("pc1", 0)}));
  EXPECT_EQ(Read(csv_), Csv({Record("pc1", 0)}));
  ASSERT_EQ(files.Finish(), "");

  for (const fs::path& path : {jsonl_, csv_}) {
    RecordsFiles again;
    const std::string error =
        path == jsonl_ ? again.Open(jsonl_, "", RecordsMode::Fresh) : again.Open("", csv_, RecordsMode::Fresh);
    EXPECT_NE(error.find("--resume"), std::string::npos) << error;
    EXPECT_NE(error.find("--overwrite"), std::string::npos) << error;
    EXPECT_NE(error.find(path.filename().string()), std::string::npos) << error;
  }
  RecordsFiles csvOnly;
  EXPECT_NE(csvOnly.Open("", csv_, RecordsMode::Resume), "");
  EXPECT_EQ(Read(csv_), Csv({Record("pc1", 0)}));

  RecordsFiles overwrite;
  ASSERT_EQ(overwrite.Open(jsonl_, csv_, RecordsMode::Overwrite), "");
  ASSERT_EQ(overwrite.Finish(), "");
  EXPECT_EQ(Read(jsonl_), "");
  EXPECT_EQ(Read(csv_), Csv({}));
}

TEST_F(RecordsFileTest, ResumeDropsATornLineAndKeepsTheLastRecordOfEachHost) {
  const std::string complete = Lines({Record("pc1", 1), Record("pc2", 0)});
  const std::string torn = ToJsonLine(Record("pc3", 0)).substr(0, 30);
  Write(jsonl_, complete + torn);
  Write(csv_, Csv({Record("pc1", 1)}));  // the kill came between a line and its row
  {
    RecordsFiles files;
    ASSERT_EQ(files.Open(jsonl_, csv_, RecordsMode::Resume), "");
    EXPECT_TRUE(files.DroppedTornLine());
    EXPECT_EQ(Read(jsonl_), complete);
    EXPECT_EQ(Read(csv_), Csv({Record("pc1", 1), Record("pc2", 0)}));
    EXPECT_EQ(files.DoneHosts(), (std::set<std::string>{"PC1", "PC2"}));
    EXPECT_TRUE(files.IsDone(HostKey("\\\\Pc2")));
    EXPECT_FALSE(files.IsDone(HostKey("pc3")));
  }
  // A retry that was killed before its rewrite left two records of pc1.
  Write(jsonl_, Lines({Record("pc1", 1), Record("pc2", 0), Record("PC1", 0)}));
  RecordsFiles files;
  ASSERT_EQ(files.Open(jsonl_, csv_, RecordsMode::Resume), "");
  EXPECT_EQ(files.KeptCount(), 2u);
  EXPECT_EQ(Read(jsonl_), Lines({Record("pc2", 0), Record("PC1", 0)}));
  ASSERT_EQ(files.Append(Record("pc3", 4)), "");
  ASSERT_EQ(files.Finish(), "");
  const std::vector<HostRecord> expected = {Record("pc2", 0), Record("PC1", 0), Record("pc3", 4)};
  EXPECT_EQ(Read(jsonl_), Lines(expected));
  EXPECT_EQ(Read(csv_), Csv(expected));
  std::vector<HostRecord> records;
  ASSERT_EQ(ReadRecordsFile(jsonl_, records), "");
  EXPECT_EQ(Lines(records), Lines(expected));
}

TEST_F(RecordsFileTest, RefusesAFileWithALineThatIsNoRecord) {
  const std::string original = Lines({Record("pc1", 0)}) + "garbage\n" + Lines({Record("pc2", 0)});
  Write(jsonl_, original);
  RecordsFiles files;
  std::string error = files.Open(jsonl_, csv_, RecordsMode::Resume);
  EXPECT_NE(error.find("line 2 of"), std::string::npos) << error;
  EXPECT_EQ(Read(jsonl_), original);
  std::vector<HostRecord> records;
  EXPECT_NE(ReadRecordsFile(jsonl_, records), "");
}

TEST_F(RecordsFileTest, RetryUnreachableReplacesRecordsAtomically) {
  const std::vector<HostRecord> first = {
      Record("ok", 0),         Record("down", 1),   Record("nomgmt", 2),
      Record("slow", 2, true), Record("share", 16), Record("broke", 2, false, true),
  };
  Write(jsonl_, Lines(first));
  RecordsFiles files;
  ASSERT_EQ(files.Open(jsonl_, csv_, RecordsMode::RetryUnreachable), "");
  EXPECT_EQ(files.DoneHosts(), (std::set<std::string>{"OK", "SHARE"}));
  EXPECT_EQ(files.RetryHosts(), (std::set<std::string>{"DOWN", "NOMGMT", "SLOW", "BROKE"}));
  ASSERT_EQ(files.Append(Record("slow", 0)), "");
  ASSERT_EQ(files.Append(Record("down", 1)), "");
  // Until Finish the new records follow the old ones; a resume sorts that out.
  EXPECT_EQ(Read(jsonl_), Lines(first) + Lines({Record("slow", 0), Record("down", 1)}));
  ASSERT_EQ(files.Finish(), "");
  const std::vector<HostRecord> expected = {Record("ok", 0),     Record("nomgmt", 2),
                                            Record("share", 16), Record("broke", 2, false, true),
                                            Record("slow", 0),   Record("down", 1)};
  EXPECT_EQ(Read(jsonl_), Lines(expected));
  EXPECT_EQ(Read(csv_), Csv(expected));
  std::vector<HostRecord> records;
  ASSERT_EQ(files.Records(records), "");
  EXPECT_EQ(Lines(records), Lines(expected));
  std::vector<std::string> left;
  for (const auto& item : fs::directory_iterator(dir_)) left.push_back(item.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"sweep.csv", "sweep.jsonl"}));
}

// A resume keeps the lines it reads back in the file: a rewrite copies them
// byte for byte (an older sweep's line keeps its form, a newer one's keys
// it does not know), and the report reads them again from wherever the
// last rewrite put them.
TEST_F(RecordsFileTest, LinesReadBackAreCopiedAsTheyAreAndReadAgainForTheReport) {
  std::string older = ToJsonLine(Record("old", 16));
  older.erase(older.find(",\"site\":null"), std::string(",\"site\":null").size());
  std::string newer = ToJsonLine(Record("new", 0));
  newer.insert(newer.size() - 1, ",\"later_key\":[1,2]");
  Write(jsonl_, older + "\r\n" + newer + "\n" + Lines({Record("down", 1)}));

  for (const RecordsMode mode : {RecordsMode::Resume, RecordsMode::RetryUnreachable}) {
    RecordsFiles files;
    ASSERT_EQ(files.Open(jsonl_, csv_, mode), "");
    if (mode == RecordsMode::RetryUnreachable) {
      ASSERT_EQ(files.Append(Record("down", 0)), "");
    }
    ASSERT_EQ(files.Finish(), "");
    std::vector<HostRecord> records;
    ASSERT_EQ(files.Records(records), "");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].ExitCode, 16);
    EXPECT_EQ(records[1].Host, "new");
  }
  // The retry rewrote the file: the lines it read back are as they were
  // (but the line end), the new record after them.
  EXPECT_EQ(Read(jsonl_), older + "\n" + newer + "\n" + Lines({Record("down", 0)}));
  EXPECT_EQ(Read(csv_), Csv({Record("old", 16), Record("new", 0), Record("down", 0)}));

  // Only a host checked again can clear a failure from the exit code.
  Write(jsonl_, Lines({Record("ok", 0), Record("down", 1)}));
  RecordsFiles retry;
  ASSERT_EQ(retry.Open(jsonl_, "", RecordsMode::RetryUnreachable), "");
  EXPECT_FALSE(retry.StandingRecordFailed());
  RecordsFiles resume;
  ASSERT_EQ(resume.Open(jsonl_, "", RecordsMode::Resume), "");
  EXPECT_TRUE(resume.StandingRecordFailed());
}

}  // namespace
}  // namespace quorvex::records
