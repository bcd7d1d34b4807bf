// Files that must survive a power cut whole: the records rewritten on a
// resume and the report page. A file replaced here is never written in
// place: its new bytes go to a file of their own beside it, reach the disk,
// take the name in one rename, and the folder's record of that rename
// reaches the disk too. At any moment the name holds the old file or the new
// one, each complete, and a reader that has the old one open keeps reading
// it.
//
//   std::string error = ReplaceFileDurably(path, [&](std::ostream& out) {
//     for (...) out << line;
//   });
//   if (!error.empty()) -> "X cannot be replaced: " + error
#pragma once

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

namespace quorvex {

// Gives write a stream into the new file (valid during the call only; the
// bytes are streamed to the file as they come, never held whole), then puts
// the new file in the old one's place, or at path when there was none.
// "" when the new file has the name and is on the disk; otherwise the
// system's reason in one line ("No space left on device"), the temporary
// file is gone, and the name holds the old file as before, unless only the
// last step, the folder's flush, failed: then the new file has the name but
// a power cut could still bring the old one back.
std::string ReplaceFileDurably(const std::filesystem::path& path, const std::function<void(std::ostream&)>& write);

inline std::string ReplaceFileDurably(const std::filesystem::path& path, std::string_view bytes) {
  return ReplaceFileDurably(
      path, [bytes](std::ostream& out) { out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())); });
}

// Puts on the disk what the system holds of the file at path, however it was
// written (the records' appends go through streams of their own), and the
// folder's record of its name, which a file made since the last flush needs
// as much as its bytes. "" or the system's reason in one line.
std::string FlushFileToDisk(const std::filesystem::path& path);

}  // namespace quorvex
