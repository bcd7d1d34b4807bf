// fsync before the rename, or the rename may reach the disk before the bytes
// and a power cut leave an empty or partial file under the name; fsync of
// the folder after it, or the rename itself may be lost and the old file come
// back. The temporary file is made with O_EXCL under a random name, so two
// writers of one folder never share one, and a file left by a power cut is
// never reopened and appended to.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>

#include "core/durable_file.h"
#include "core/write_buffer.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;

std::string Reason(int error) { return std::system_category().message(error); }

class DescriptorBuffer final : public WriteBuffer {
 public:
  explicit DescriptorBuffer(int fd) : fd_(fd) {}

 protected:
  std::size_t WriteSome(const char* data, std::size_t size, std::uint32_t& error) override {
    const ssize_t written = ::write(fd_, data, size);
    if (written >= 0) return static_cast<std::size_t>(written);
    if (errno != EINTR) error = static_cast<std::uint32_t>(errno);
    return 0;
  }

 private:
  int fd_;
};

// The temporary file until it takes the target's name: closed and removed on
// every way out before that, an exception from the writer included.
struct Temporary {
  fs::path Path;
  int Fd = -1;
  bool Renamed = false;
  ~Temporary() {
    if (Fd >= 0) close(Fd);
    if (!Path.empty() && !Renamed) unlink(Path.c_str());
  }
};

std::string RandomSuffix() {
  std::random_device random;
  char text[20];
  std::snprintf(text, sizeof text, ".%08x%08x", random(), random());
  return text;
}

int OpenUnique(const fs::path& path, Temporary& temporary) {
  for (int attempt = 0;; ++attempt) {
    fs::path candidate = path;
    candidate += RandomSuffix() + ".tmp";
    const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd >= 0) {
      temporary.Path = std::move(candidate);
      temporary.Fd = fd;
      return 0;
    }
    if (errno != EEXIST || attempt == 20) return errno;
  }
}

int FsyncOf(int fd) {
  while (fsync(fd) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

std::string FlushFolderOf(const fs::path& path) {
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Reason(errno);
  const int error = FsyncOf(fd);
  close(fd);
  // Some file systems (network ones among them) cannot flush a folder and
  // say EINVAL: they keep no record of the name that a flush could reach.
  return error == 0 || error == EINVAL ? std::string() : Reason(error);
}

}  // namespace

std::string ReplaceFileDurably(const fs::path& path, const std::function<void(std::ostream&)>& write) {
  Temporary temporary;
  if (const int error = OpenUnique(path, temporary); error != 0) return Reason(error);
  {
    DescriptorBuffer buffer(temporary.Fd);
    std::ostream out(&buffer);
    write(out);
    out.flush();
    if (buffer.Error() != 0) return Reason(static_cast<int>(buffer.Error()));
    if (!out) return "the new content could not be made";
  }
  if (const int error = FsyncOf(temporary.Fd); error != 0) return Reason(error);
  // Linux lets a descriptor go even when close says EINTR; the bytes are on
  // the disk by now, so only a real error counts.
  const int closed = close(temporary.Fd);
  temporary.Fd = -1;
  if (closed != 0 && errno != EINTR) return Reason(errno);
  if (rename(temporary.Path.c_str(), path.c_str()) != 0) return Reason(errno);
  temporary.Renamed = true;
  return FlushFolderOf(path);
}

std::string FlushFileToDisk(const fs::path& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return Reason(errno);
  const int error = FsyncOf(fd);
  close(fd);
  if (error != 0) return Reason(error);
  return FlushFolderOf(path);
}

}  // namespace quorvex
