// One echo request per SendEcho, answered in the IP_* statuses the core
// knows. An unprivileged ICMP datagram socket is preferred; a raw socket
// (root or CAP_NET_RAW) is the fallback.
#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>

#include "platform/posix/local_services.h"

namespace quorvex::posix {
namespace {

// The IP_* statuses an echo attempt may end with.
constexpr std::int32_t IpSuccess = 0;
constexpr std::int32_t IpDestNetUnreachable = 11002;
constexpr std::int32_t IpDestHostUnreachable = 11003;
constexpr std::int32_t IpDestProtUnreachable = 11004;
constexpr std::int32_t IpDestPortUnreachable = 11005;
constexpr std::int32_t IpPacketTooBig = 11009;
constexpr std::int32_t IpReqTimedOut = 11010;
constexpr std::int32_t IpTtlExpiredTransit = 11013;
constexpr std::int32_t IpTtlExpiredReassem = 11014;
constexpr std::int32_t IpParamProblem = 11015;
constexpr std::int32_t IpSourceQuench = 11016;
constexpr std::int32_t IpGeneralFailure = 11050;

constexpr std::uint8_t TypeEchoReply = 0;
constexpr std::uint8_t TypeDestUnreachable = 3;
constexpr std::uint8_t TypeSourceQuench = 4;
constexpr std::uint8_t TypeEchoRequest = 8;
constexpr std::uint8_t TypeTimeExceeded = 11;
constexpr std::uint8_t TypeParamProblem = 12;

constexpr std::size_t IcmpHeaderSize = 8;
constexpr std::size_t MinIpHeaderSize = 20;
constexpr int EchoTtl = 255;

std::uint16_t Read16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

// Length of the IPv4 header at data, or 0 when it is not a sane one.
std::size_t IpHeaderLength(const std::uint8_t* data, std::size_t size) {
  if (size < MinIpHeaderSize || (data[0] >> 4) != 4) return 0;
  const std::size_t length = static_cast<std::size_t>(data[0] & 0x0F) * 4;
  return length >= MinIpHeaderSize && length <= size ? length : 0;
}

bool SameAddress(const std::uint8_t* p, const Ipv4Address& address) {
  return std::memcmp(p, address.data(), address.size()) == 0;
}

std::uint16_t Checksum(const std::uint8_t* data, std::size_t size) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < size; i += 2) sum += Read16(data + i);
  if (size % 2 != 0) sum += static_cast<std::uint32_t>(data[size - 1]) << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

// Written once per process: the core asks for a handle on every attempt.
void ExplainMissingPermission() {
  static std::atomic<bool> told{false};
  if (told.exchange(true)) return;
  constexpr std::string_view hint =
      "quorvex: cannot open an ICMP socket; run as root, or grant it with "
      "'setcap cap_net_raw+ep' on the binary, or widen net.ipv4.ping_group_range.\n";
  ssize_t ignored = write(2, hint.data(), hint.size());
  (void)ignored;
}

class SocketEchoHandle : public EchoHandle {
 public:
  SocketEchoHandle(int fd, bool datagram, std::uint16_t identifier)
      : fd_(fd), datagram_(datagram), identifier_(identifier) {}
  ~SocketEchoHandle() override { close(fd_); }
  SocketEchoHandle(const SocketEchoHandle&) = delete;
  SocketEchoHandle& operator=(const SocketEchoHandle&) = delete;

  EchoReply SendEcho(const Ipv4Address& destination, std::uint32_t timeoutMs) override {
    using Clock = std::chrono::steady_clock;
    const std::uint16_t sequence = ++sequence_;
    std::uint8_t request[IcmpHeaderSize] = {TypeEchoRequest,
                                            0,
                                            0,
                                            0,
                                            static_cast<std::uint8_t>(identifier_ >> 8),
                                            static_cast<std::uint8_t>(identifier_),
                                            static_cast<std::uint8_t>(sequence >> 8),
                                            static_cast<std::uint8_t>(sequence)};
    const std::uint16_t sum = Checksum(request, sizeof request);
    request[2] = static_cast<std::uint8_t>(sum >> 8);
    request[3] = static_cast<std::uint8_t>(sum);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    std::memcpy(&to.sin_addr, destination.data(), destination.size());

    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::chrono::milliseconds(timeoutMs);
    ssize_t sent;
    do {
      sent = sendto(fd_, request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) return {StatusOfSendError(errno), 0};

    IcmpMatch want;
    want.Identifier = identifier_;
    want.Sequence = sequence;
    want.Destination = destination;
    want.WithIpHeader = !datagram_;
    want.CheckIdentifier = !datagram_;

    for (;;) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return {IpReqTimedOut, 0};
      pollfd pfd{fd_, POLLIN, 0};
      const int ready = poll(&pfd, 1, static_cast<int>(left));
      if (ready < 0 && errno != EINTR) return {IpGeneralFailure, 0};
      if (ready <= 0) continue;
      if (const std::optional<std::int32_t> status = Drain(want, pfd.revents)) {
        const auto rtt = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        return {*status, *status == IpSuccess ? static_cast<std::uint32_t>(rtt.count()) : 0};
      }
    }
  }

 private:
  static std::int32_t StatusOfSendError(int error) {
    switch (error) {
      case ENETUNREACH: return IpDestNetUnreachable;
      case EHOSTUNREACH: return IpDestHostUnreachable;
      case EMSGSIZE: return IpPacketTooBig;
      default: return IpGeneralFailure;
    }
  }

  // Reads every waiting message; answers the first that concerns `want`.
  std::optional<std::int32_t> Drain(const IcmpMatch& want, short revents) {
    if (datagram_ && (revents & POLLERR) != 0) {
      if (std::optional<std::int32_t> status = ReadErrorQueue(want)) return status;
    }
    for (;;) {
      std::uint8_t packet[1500];
      sockaddr_in from{};
      socklen_t fromLength = sizeof from;
      const ssize_t got =
          recvfrom(fd_, packet, sizeof packet, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLength);
      if (got < 0) {
        if (errno == EINTR) continue;
        return std::nullopt;  // nothing more waiting (or a pending error, read above)
      }
      Ipv4Address source{};
      std::memcpy(source.data(), &from.sin_addr, source.size());
      if (std::optional<std::int32_t> status = MatchIcmpMessage(want, packet, static_cast<std::size_t>(got), source)) {
        return status;
      }
    }
  }

  // A datagram socket reports ICMP errors about its own requests through the
  // error queue rather than as packets.
  std::optional<std::int32_t> ReadErrorQueue(const IcmpMatch& want) {
    for (;;) {
      std::uint8_t payload[64];
      alignas(cmsghdr) char control[512];
      sockaddr_in offender{};
      iovec iov{payload, sizeof payload};
      msghdr msg{};
      msg.msg_name = &offender;
      msg.msg_namelen = sizeof offender;
      msg.msg_iov = &iov;
      msg.msg_iovlen = 1;
      msg.msg_control = control;
      msg.msg_controllen = sizeof control;
      const ssize_t got = recvmsg(fd_, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
      if (got < 0) {
        if (errno == EINTR) continue;
        return std::nullopt;
      }
      // The queued copy is our own request: make sure it is this one.
      if (got >= static_cast<ssize_t>(IcmpHeaderSize) && Read16(payload + 6) != want.Sequence) continue;
      for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR) continue;
        sock_extended_err err;
        std::memcpy(&err, CMSG_DATA(c), sizeof err);
        if (err.ee_origin == SO_EE_ORIGIN_ICMP) return StatusOfIcmpError(err.ee_type, err.ee_code);
        return StatusOfSendError(static_cast<int>(err.ee_errno));
      }
    }
  }

  int fd_;
  bool datagram_;
  std::uint16_t identifier_;
  std::uint16_t sequence_ = 0;
};

int OpenIcmpSocket(int type) {
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) return -1;
  const int ttl = EchoTtl;
  if (setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0) {
    close(fd);
    return -1;
  }
  if (type == SOCK_DGRAM) {
    const int on = 1;
    if (setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on) != 0) {
      close(fd);
      return -1;
    }
  }
  return fd;
}

class SocketEchoService : public EchoService {
 public:
  std::unique_ptr<EchoHandle> CreateEchoHandle() override {
    // Several handles in one process must not take each other's replies on
    // a raw socket, which sees them all.
    static std::atomic<std::uint16_t> counter{0};
    const auto identifier = static_cast<std::uint16_t>((static_cast<unsigned>(getpid()) << 4) + counter.fetch_add(1));
    if (const int fd = OpenIcmpSocket(SOCK_DGRAM); fd >= 0) {
      return std::make_unique<SocketEchoHandle>(fd, true, identifier);
    }
    if (const int fd = OpenIcmpSocket(SOCK_RAW); fd >= 0) {
      return std::make_unique<SocketEchoHandle>(fd, false, identifier);
    }
    ExplainMissingPermission();
    return nullptr;
  }
};

}  // namespace

std::int32_t StatusOfIcmpError(std::uint8_t type, std::uint8_t code) {
  switch (type) {
    case TypeDestUnreachable:
      switch (code) {
        // clang-format off
        case 0: case 6: case 9: case 11: return IpDestNetUnreachable;   // net: unreachable, unknown, prohibited, for TOS
        case 1: case 7: case 10: case 12: return IpDestHostUnreachable;  // host: the same four
        // clang-format on
        case 2: return IpDestProtUnreachable;
        case 3: return IpDestPortUnreachable;
        case 4: return IpPacketTooBig;  // fragmentation needed
        default: return IpGeneralFailure;
      }
    case TypeTimeExceeded: return code == 1 ? IpTtlExpiredReassem : IpTtlExpiredTransit;
    case TypeParamProblem: return IpParamProblem;
    case TypeSourceQuench: return IpSourceQuench;
    default: return IpGeneralFailure;
  }
}

std::optional<std::int32_t> MatchIcmpMessage(const IcmpMatch& want, const std::uint8_t* data, std::size_t size,
                                             const Ipv4Address& source) {
  if (want.WithIpHeader) {
    const std::size_t header = IpHeaderLength(data, size);
    if (header == 0 || data[9] != IPPROTO_ICMP) return std::nullopt;
    data += header;
    size -= header;
  }
  if (size < IcmpHeaderSize) return std::nullopt;
  const std::uint8_t type = data[0];

  if (type == TypeEchoReply) {
    if (want.CheckIdentifier && Read16(data + 4) != want.Identifier) return std::nullopt;
    if (Read16(data + 6) != want.Sequence || source != want.Destination) return std::nullopt;
    return IpSuccess;
  }
  if (type != TypeDestUnreachable && type != TypeTimeExceeded && type != TypeParamProblem && type != TypeSourceQuench) {
    return std::nullopt;
  }
  // An error message quotes the IP header of our request and the first eight
  // bytes behind it: our echo header with its identifier and sequence. Any
  // router on the way may send it, so its source is not checked.
  const std::uint8_t* quoted = data + IcmpHeaderSize;
  const std::size_t quotedSize = size - IcmpHeaderSize;
  const std::size_t innerHeader = IpHeaderLength(quoted, quotedSize);
  if (innerHeader == 0 || quoted[9] != IPPROTO_ICMP || !SameAddress(quoted + 16, want.Destination)) {
    return std::nullopt;
  }
  if (quotedSize < innerHeader + IcmpHeaderSize) return std::nullopt;
  const std::uint8_t* request = quoted + innerHeader;
  if (request[0] != TypeEchoRequest) return std::nullopt;
  if (want.CheckIdentifier && Read16(request + 4) != want.Identifier) return std::nullopt;
  if (Read16(request + 6) != want.Sequence) return std::nullopt;
  return StatusOfIcmpError(type, data[1]);
}

std::unique_ptr<EchoService> OpenEcho() { return std::make_unique<SocketEchoService>(); }

}  // namespace quorvex::posix
