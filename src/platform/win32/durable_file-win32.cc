// FlushFileBuffers before the move, or the move may reach the disk before
// the bytes; MOVEFILE_WRITE_THROUGH, or MoveFileExW may return before the
// rename itself is on the disk (Windows has no flush of a folder: the write
// through covers the name). The temporary file is made with CREATE_NEW under
// a random name, so two writers of one folder never share one. Its handle
// shares nothing: no one reads a file that is not finished.
#include <cstdio>
#include <random>
#include <system_error>

#include "core/durable_file.h"
#include "core/write_buffer.h"
#include "platform/win32/win32_headers.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;

// The system's text ends in a line end, and the caller's line goes on.
std::string Reason(DWORD error) {
  std::string text = std::system_category().message(static_cast<int>(error));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

class HandleBuffer final : public WriteBuffer {
 public:
  explicit HandleBuffer(HANDLE handle) : handle_(handle) {}

 protected:
  std::size_t WriteSome(const char* data, std::size_t size, std::uint32_t& error) override {
    DWORD written = 0;
    if (WriteFile(handle_, data, static_cast<DWORD>(size), &written, nullptr)) return written;
    error = GetLastError();
    return 0;
  }

 private:
  HANDLE handle_;
};

// The temporary file until it takes the target's name: closed and deleted on
// every way out before that, an exception from the writer included.
struct Temporary {
  fs::path Path;
  HANDLE Handle = INVALID_HANDLE_VALUE;
  bool Moved = false;
  ~Temporary() {
    if (Handle != INVALID_HANDLE_VALUE) CloseHandle(Handle);
    if (!Path.empty() && !Moved) DeleteFileW(Path.wstring().c_str());
  }
};

std::wstring RandomSuffix() {
  std::random_device random;
  wchar_t text[20];
  std::swprintf(text, sizeof text / sizeof text[0], L".%08x%08x", random(), random());
  return text;
}

DWORD CreateUnique(const fs::path& path, Temporary& temporary) {
  for (int attempt = 0;; ++attempt) {
    const fs::path candidate = path.wstring() + RandomSuffix() + L".tmp";
    const HANDLE handle =
        CreateFileW(candidate.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      temporary.Path = candidate;
      temporary.Handle = handle;
      return 0;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS || attempt == 20) return error;
  }
}

}  // namespace

std::string ReplaceFileDurably(const fs::path& path, const std::function<void(std::ostream&)>& write) {
  Temporary temporary;
  if (const DWORD error = CreateUnique(path, temporary); error != 0) return Reason(error);
  {
    HandleBuffer buffer(temporary.Handle);
    std::ostream out(&buffer);
    write(out);
    out.flush();
    if (buffer.Error() != 0) return Reason(buffer.Error());
    if (!out) return "the new content could not be made";
  }
  if (!FlushFileBuffers(temporary.Handle)) return Reason(GetLastError());
  CloseHandle(temporary.Handle);
  temporary.Handle = INVALID_HANDLE_VALUE;
  if (!MoveFileExW(temporary.Path.wstring().c_str(), path.wstring().c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return Reason(GetLastError());
  }
  temporary.Moved = true;
  return {};
}

std::string FlushFileToDisk(const fs::path& path) {
  // FlushFileBuffers needs a handle that may write; sharing everything lets
  // it be had while others have the file open.
  const HANDLE handle =
      CreateFileW(path.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Reason(GetLastError());
  const BOOL flushed = FlushFileBuffers(handle);
  const DWORD error = flushed ? 0 : GetLastError();
  CloseHandle(handle);
  return flushed ? std::string() : Reason(error);
}

}  // namespace quorvex
