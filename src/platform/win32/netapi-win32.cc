#include "platform/win32/win32_backend.h"
#include "platform/win32/win32_headers.h"

namespace quorvex::win32 {
namespace {

// wchar_t is 16 bits on Windows, so the API's strings are the seam's UTF-16
// strings as they are.
const char16_t* AsUtf16(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }
LPWSTR AsWide(std::u16string& text) { return reinterpret_cast<LPWSTR>(text.data()); }

class Win32WorkstationRecord : public WorkstationRecord {
 public:
  explicit Win32WorkstationRecord(LPBYTE buffer) : buffer_(buffer) {
    const auto* info = reinterpret_cast<const WKSTA_INFO_102*>(buffer);
    Info.ComputerName = AsUtf16(info->wki102_computername);
    Info.LanGroup = AsUtf16(info->wki102_langroup);
    Info.VerMajor = info->wki102_ver_major;
    Info.VerMinor = info->wki102_ver_minor;
    Info.LoggedOnUsers = info->wki102_logged_on_users;
  }
  ~Win32WorkstationRecord() override { NetApiBufferFree(buffer_); }
  Win32WorkstationRecord(const Win32WorkstationRecord&) = delete;
  Win32WorkstationRecord& operator=(const Win32WorkstationRecord&) = delete;

 private:
  LPBYTE buffer_;
};

class Win32ServerRecord : public ServerRecord {
 public:
  explicit Win32ServerRecord(LPBYTE buffer) : buffer_(buffer) {
    const auto* info = reinterpret_cast<const SERVER_INFO_102*>(buffer);
    Info.Type = info->sv102_type;
    Info.Comment = AsUtf16(info->sv102_comment);
    Info.Hidden = static_cast<std::uint32_t>(info->sv102_hidden);
  }
  ~Win32ServerRecord() override { NetApiBufferFree(buffer_); }
  Win32ServerRecord(const Win32ServerRecord&) = delete;
  Win32ServerRecord& operator=(const Win32ServerRecord&) = delete;

 private:
  LPBYTE buffer_;
};

class Win32NetManagement : public NetManagementService {
 public:
  // A buffer the API hands back is owned by a record even when the call
  // failed, so that it is freed exactly once whatever the caller does next.
  std::uint32_t GetWorkstationInfo(const std::string& uncServerName,
                                   std::unique_ptr<WorkstationRecord>& record) override {
    std::u16string server = WideOfAnsi(uncServerName);
    if (server.empty()) {
      record.reset();
      return ERROR_INVALID_NAME;
    }
    LPBYTE buffer = nullptr;
    NET_API_STATUS status = NetWkstaGetInfo(AsWide(server), 102, &buffer);
    record = buffer != nullptr ? std::make_unique<Win32WorkstationRecord>(buffer) : nullptr;
    return status;
  }

  std::uint32_t GetServerInfo(const std::string& uncServerName, std::unique_ptr<ServerRecord>& record) override {
    std::u16string server = WideOfAnsi(uncServerName);
    if (server.empty()) {
      record.reset();
      return ERROR_INVALID_NAME;
    }
    LPBYTE buffer = nullptr;
    NET_API_STATUS status = NetServerGetInfo(AsWide(server), 102, &buffer);
    record = buffer != nullptr ? std::make_unique<Win32ServerRecord>(buffer) : nullptr;
    return status;
  }

  std::string WideToAnsiText(std::u16string_view text) override { return AnsiOfWide(text); }
};

}  // namespace

std::string AnsiOfWide(std::u16string_view text) {
  if (text.empty()) return {};
  const auto* units = reinterpret_cast<const wchar_t*>(text.data());
  int count = static_cast<int>(text.size());
  int bytes = WideCharToMultiByte(CP_ACP, 0, units, count, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string ansi(static_cast<std::size_t>(bytes), '\0');
  bytes = WideCharToMultiByte(CP_ACP, 0, units, count, ansi.data(), bytes, nullptr, nullptr);
  ansi.resize(bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
  return ansi;
}

std::string AnsiOfWide(const char16_t* text) {
  return text != nullptr ? AnsiOfWide(std::u16string_view(text)) : std::string();
}

std::u16string WideOfAnsi(const std::string& text) {
  int units = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text.c_str(), -1, nullptr, 0);
  if (units <= 1) return {};
  std::u16string wide(static_cast<std::size_t>(units), u'\0');
  if (MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text.c_str(), -1, reinterpret_cast<wchar_t*>(wide.data()), units) !=
      units) {
    return {};
  }
  wide.pop_back();  // the string keeps its own terminator
  return wide;
}

std::unique_ptr<NetManagementService> MakeNetManagementService() { return std::make_unique<Win32NetManagement>(); }

}  // namespace quorvex::win32
