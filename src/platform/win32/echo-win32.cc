#include <cstring>
#include <vector>

#include "platform/win32/win32_backend.h"
#include "platform/win32/win32_headers.h"

namespace quorvex::win32 {

std::uint32_t EchoReplyBufferSize() { return sizeof(ICMP_ECHO_REPLY) + 8; }

EchoReply DeriveEchoReply(std::uint32_t replyCount, std::uint32_t replyStatus, std::uint32_t replyRoundTripTime,
                          std::uint32_t lastError) {
  constexpr std::uint32_t kFirstIpStatus = IP_STATUS_BASE + 1;  // IP_BUF_TOO_SMALL
  constexpr std::uint32_t kLastIpStatus = IP_PENDING;
  EchoReply reply;
  if (replyCount >= 1) {
    reply.Status = static_cast<std::int32_t>(replyStatus);
    reply.RoundTripTime = replyRoundTripTime;
  } else if (replyStatus != 0) {
    reply.Status = static_cast<std::int32_t>(replyStatus);
  } else if (lastError >= kFirstIpStatus && lastError <= kLastIpStatus) {
    reply.Status = static_cast<std::int32_t>(lastError);
  } else {
    reply.Status = IP_GENERAL_FAILURE;
  }
  return reply;
}

namespace {

class Win32EchoHandle : public EchoHandle {
 public:
  explicit Win32EchoHandle(HANDLE handle) : handle_(handle) {}
  ~Win32EchoHandle() override { IcmpCloseHandle(handle_); }
  Win32EchoHandle(const Win32EchoHandle&) = delete;
  Win32EchoHandle& operator=(const Win32EchoHandle&) = delete;

  EchoReply SendEcho(const Ipv4Address& destination, std::uint32_t timeoutMs) override {
    IPAddr address = 0;
    std::memcpy(&address, destination.data(), sizeof address);
    IP_OPTION_INFORMATION options{};
    options.Ttl = 255;
    // Cleared before every attempt: a failed call may leave the record as it
    // found it, and the status must not come from an earlier reply.
    std::vector<unsigned char> buffer(EchoReplyBufferSize(), 0);
    SetLastError(0);
    DWORD count = IcmpSendEcho(handle_, address, nullptr, 0, &options, buffer.data(), static_cast<DWORD>(buffer.size()),
                               timeoutMs);
    DWORD lastError = count == 0 ? GetLastError() : 0;
    ICMP_ECHO_REPLY first;
    std::memcpy(&first, buffer.data(), sizeof first);
    return DeriveEchoReply(count, first.Status, first.RoundTripTime, lastError);
  }

 private:
  HANDLE handle_;
};

class Win32Echo : public EchoService {
 public:
  std::unique_ptr<EchoHandle> CreateEchoHandle() override {
    HANDLE handle = IcmpCreateFile();
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return nullptr;
    return std::make_unique<Win32EchoHandle>(handle);
  }
};

}  // namespace

std::unique_ptr<EchoService> MakeEchoService() { return std::make_unique<Win32Echo>(); }

}  // namespace quorvex::win32
