// A file replaced whole: the new bytes under the name on success; on any
// failure the old bytes, the system's reason, and no temporary file left in
// the folder. The failures are ones root cannot bypass, as the tests run as
// root.
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "core/durable_file.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    names.insert(fs::relative(entry.path(), folder).string());
  }
  return names;
}

// Holds writes to files of this process under a size, as a full disk would;
// the signal that would kill it becomes EFBIG.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limited = saved_;
    limited.rlim_cur = bytes;
    previous_ = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  sighandler_t previous_;
};

TEST(DurableFile, ReplacesWholeOrLeavesTheOldFile) {
  enum class Before { Nothing, File, Folder };
  struct Case {
    const char* What;
    const char* Name;    // the target, in a fresh folder
    const char* Placed;  // made there first, with Before
    Before Kind;
    rlim_t SizeLimit;  // 0: none
    bool WriterThrows;
    const char* Error;  // "" when the replacement succeeds
  };
  const Case cases[] = {
      {"replaces a file", "r.jsonl", "r.jsonl", Before::File, 0, false, ""},
      {"makes an absent file", "page.html", "", Before::Nothing, 0, false, ""},
      {"folder missing", "gone/page.html", "", Before::Nothing, 0, false, "No such file or directory"},
      {"folder is a file", "r.jsonl/page.html", "r.jsonl", Before::File, 0, false, "Not a directory"},
      {"name is a folder", "taken", "taken", Before::Folder, 0, false, "Is a directory"},
      {"disk full mid-write", "r.jsonl", "r.jsonl", Before::File, 100 * 1024, false, "File too large"},
      {"writer throws", "r.jsonl", "r.jsonl", Before::File, 0, true, nullptr},
  };
  // Larger than any buffer on the way, in pieces of odd sizes.
  std::string bytes;
  for (int i = 0; bytes.size() < 300 * 1024; ++i) bytes += std::string(static_cast<std::size_t>(i % 977), 'a' + i % 26);
  const std::string old = "{\"host\":\"old\"}\n";

  const fs::path base = fs::temp_directory_path() / ("quorvex-durable-" + std::to_string(std::random_device{}()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const fs::path folder = base / c.What;
    fs::create_directories(folder);
    if (c.Kind == Before::File) std::ofstream(folder / c.Placed, std::ios::binary) << old;
    if (c.Kind == Before::Folder) fs::create_directory(folder / c.Placed);
    const std::set<std::string> before = Names(folder);

    std::string error;
    auto write = [&](std::ostream& out) {
      for (std::size_t at = 0; at < bytes.size(); at += 4099) out << bytes.substr(at, 4099);
      if (c.WriterThrows) throw std::runtime_error("no record");
    };
    if (c.WriterThrows) {
      EXPECT_THROW(ReplaceFileDurably(folder / c.Name, write), std::runtime_error);
    } else if (c.SizeLimit != 0) {
      FileSizeLimit limit(c.SizeLimit);
      error = ReplaceFileDurably(folder / c.Name, write);
    } else {
      error = ReplaceFileDurably(folder / c.Name, write);
    }

    if (c.Error) {
      EXPECT_EQ(error, c.Error);
    }
    std::set<std::string> after = before;
    if (error.empty() && !c.WriterThrows) {
      after.insert(c.Name);
      EXPECT_EQ(Read(folder / c.Name), bytes);
    } else if (c.Kind == Before::File) {
      EXPECT_EQ(Read(folder / c.Placed), old);
    }
    EXPECT_EQ(Names(folder), after);
  }
  fs::remove_all(base);
}

}  // namespace
}  // namespace quorvex
