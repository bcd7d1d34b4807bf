#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/local_services.h"

namespace quorvex::posix {
namespace {

constexpr Ipv4Address Peer{10, 99, 0, 2};
constexpr Ipv4Address Router{10, 99, 0, 1};
constexpr std::uint16_t Id = 0x1234;
constexpr std::uint16_t Seq = 7;

using Bytes = std::vector<std::uint8_t>;

// clang-format off
Bytes IpHeader(const Ipv4Address& from, const Ipv4Address& to, std::uint8_t protocol = 1) {
  return {0x45, 0, 0, 0, 0, 0, 0, 0, 64, protocol, 0, 0, from[0], from[1], from[2], from[3],
          to[0], to[1], to[2], to[3]};
}

Bytes Icmp(std::uint8_t type, std::uint8_t code, std::uint16_t id, std::uint16_t seq) {
  return {type, code, 0, 0, static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id),
          static_cast<std::uint8_t>(seq >> 8), static_cast<std::uint8_t>(seq)};
}
// clang-format on

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// An error message from `from` quoting our request to `to`.
Bytes Error(std::uint8_t type, std::uint8_t code, const Ipv4Address& to = Peer, std::uint16_t id = Id,
            std::uint16_t seq = Seq) {
  return Join(
      {IpHeader(Router, {10, 99, 0, 1}), Icmp(type, code, 0, 0), IpHeader({10, 99, 0, 1}, to), Icmp(8, 0, id, seq)});
}

struct MatchCase {
  const char* Name;
  Bytes Packet;
  Ipv4Address Source;
  std::optional<std::int32_t> Expected;
};

TEST(IcmpMatch, RawSocketMessages) {
  const Bytes reply = Join({IpHeader(Peer, Router), Icmp(0, 0, Id, Seq)});
  Bytes shortQuote = Error(3, 1);
  shortQuote.resize(shortQuote.size() - 4);
  Bytes withOptions =
      Join({{0x46, 0, 0, 0, 0, 0, 0, 0, 64, 1, 0, 0, 10, 99, 0, 2, 10, 99, 0, 1, 1, 1, 1, 0}, Icmp(0, 0, Id, Seq)});
  const MatchCase cases[] = {
      {"echo reply", reply, Peer, 0},
      {"reply with IP options", withOptions, Peer, 0},
      {"reply to another process", Join({IpHeader(Peer, Router), Icmp(0, 0, Id + 1, Seq)}), Peer, std::nullopt},
      {"reply to an earlier request", Join({IpHeader(Peer, Router), Icmp(0, 0, Id, Seq - 1)}), Peer, std::nullopt},
      {"reply from another host", reply, Router, std::nullopt},
      {"our own request on loopback", Join({IpHeader(Router, Peer), Icmp(8, 0, Id, Seq)}), Router, std::nullopt},
      {"net unreachable", Error(3, 0), Router, 11002},
      {"host unreachable", Error(3, 1), Router, 11003},
      {"protocol unreachable", Error(3, 2), Router, 11004},
      {"port unreachable", Error(3, 3), Router, 11005},
      {"fragmentation needed", Error(3, 4), Router, 11009},
      {"host prohibited", Error(3, 10), Router, 11003},
      {"communication prohibited", Error(3, 13), Router, 11050},
      {"ttl expired in transit", Error(11, 0), Router, 11013},
      {"reassembly time exceeded", Error(11, 1), Router, 11014},
      {"parameter problem", Error(12, 0), Router, 11015},
      {"error about another destination", Error(3, 1, {10, 99, 0, 9}), Router, std::nullopt},
      {"error about another identifier", Error(3, 1, Peer, Id ^ 1), Router, std::nullopt},
      {"error about another sequence", Error(3, 1, Peer, Id, Seq + 1), Router, std::nullopt},
      {"error quoting too little", shortQuote, Router, std::nullopt},
      {"redirect is not an outcome", Error(5, 1), Router, std::nullopt},
      {"not ICMP", Join({IpHeader(Peer, Router, 17), Icmp(0, 0, Id, Seq)}), Peer, std::nullopt},
      {"truncated IP header", Bytes{0x45, 0, 0}, Peer, std::nullopt},
      {"header length beyond packet", Join({{0x4F}, IpHeader(Peer, Router)}), Peer, std::nullopt},
      {"empty", Bytes{}, Peer, std::nullopt},
  };
  IcmpMatch want;
  want.Identifier = Id;
  want.Sequence = Seq;
  want.Destination = Peer;
  for (const MatchCase& c : cases) {
    EXPECT_EQ(MatchIcmpMessage(want, c.Packet.data(), c.Packet.size(), c.Source), c.Expected) << c.Name;
  }
}

TEST(IcmpMatch, DatagramSocketIgnoresRewrittenIdentifier) {
  IcmpMatch want;
  want.Identifier = Id;
  want.Sequence = Seq;
  want.Destination = Peer;
  want.WithIpHeader = false;
  want.CheckIdentifier = false;
  const Bytes reply = Icmp(0, 0, 0x9999, Seq);
  EXPECT_EQ(MatchIcmpMessage(want, reply.data(), reply.size(), Peer), 0);
  const Bytes stale = Icmp(0, 0, 0x9999, Seq - 1);
  EXPECT_EQ(MatchIcmpMessage(want, stale.data(), stale.size(), Peer), std::nullopt);
  const Bytes tooShort = Bytes{0, 0, 0, 0, 0x99};
  EXPECT_EQ(MatchIcmpMessage(want, tooShort.data(), tooShort.size(), Peer), std::nullopt);
}

TEST(IcmpEcho, LoopbackAnswers) {
  const std::unique_ptr<EchoService> echo = OpenEcho();
  std::unique_ptr<EchoHandle> handle = echo->CreateEchoHandle();
  if (!handle) GTEST_SKIP() << "no ICMP socket for this user";
  for (int attempt = 0; attempt < 2; ++attempt) {  // one handle, several requests
    const EchoReply reply = handle->SendEcho({127, 0, 0, 1}, 2000);
    EXPECT_EQ(reply.Status, 0);
    EXPECT_LT(reply.RoundTripTime, 1000u);
  }
  // A second handle alive at the same time must not steal the first's reply.
  std::unique_ptr<EchoHandle> other = echo->CreateEchoHandle();
  ASSERT_TRUE(other);
  EXPECT_EQ(other->SendEcho({127, 0, 0, 1}, 2000).Status, 0);
  EXPECT_EQ(handle->SendEcho({127, 0, 0, 1}, 2000).Status, 0);
}

}  // namespace
}  // namespace quorvex::posix

namespace quorvex::posix {
namespace {

struct NamespaceCase {
  const char* Name;
  bool DatagramAllowed;  // net.ipv4.ping_group_range admits root's group
  bool EchoIgnored;      // net.ipv4.icmp_echo_ignore_all
  Ipv4Address Destination;
  std::uint32_t TimeoutMs;
  std::int32_t Status;
  int MinMs;
  int MaxMs;
};

bool WriteProc(const char* path, const char* value) {
  FILE* f = std::fopen(path, "w");
  if (f == nullptr) return false;
  const bool ok = std::fputs(value, f) >= 0;
  return std::fclose(f) == 0 && ok;
}

// Runs the case in a child inside a network namespace of its own, holding
// only a loopback interface; answers "status elapsed-ms" or why it could not.
std::string RunInPrivateNamespace(const NamespaceCase& c) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    std::string answer;
    if (unshare(CLONE_NEWNET) != 0) {
      answer = "no namespace";
    } else if (!WriteProc("/proc/sys/net/ipv4/ping_group_range", c.DatagramAllowed ? "0 0" : "1 0") ||
               !WriteProc("/proc/sys/net/ipv4/icmp_echo_ignore_all", c.EchoIgnored ? "1" : "0")) {
      answer = "no sysctl";
    } else {
      ifreq ifr{};
      std::strcpy(ifr.ifr_name, "lo");
      const int s = socket(AF_INET, SOCK_DGRAM, 0);
      ioctl(s, SIOCGIFFLAGS, &ifr);
      ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
      ioctl(s, SIOCSIFFLAGS, &ifr);
      close(s);
      std::unique_ptr<EchoHandle> handle = OpenEcho()->CreateEchoHandle();
      if (!handle) {
        answer = "no handle";
      } else {
        const auto start = std::chrono::steady_clock::now();
        const EchoReply reply = handle->SendEcho(c.Destination, c.TimeoutMs);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        answer = std::to_string(reply.Status) + " " + std::to_string(ms);
      }
    }
    ssize_t ignored = write(fds[1], answer.data(), answer.size());
    (void)ignored;
    _exit(0);
  }
  close(fds[1]);
  std::string answer;
  char buffer[128];
  for (ssize_t got; (got = read(fds[0], buffer, sizeof buffer)) > 0;) answer.append(buffer, got);
  close(fds[0]);
  waitpid(child, nullptr, 0);
  return answer;
}

TEST(IcmpEcho, OutcomesInPrivateNamespace) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a network namespace";
  const NamespaceCase cases[] = {
      {"raw socket, answered", false, false, {127, 0, 0, 1}, 2000, 0, 0, 1000},
      {"datagram socket, answered", true, false, {127, 0, 0, 1}, 2000, 0, 0, 1000},
      {"raw socket, dropped: waits the timeout", false, true, {127, 0, 0, 1}, 300, 11010, 300, 800},
      {"datagram socket, dropped: waits the timeout", true, true, {127, 0, 0, 1}, 300, 11010, 300, 800},
      {"no route to the network", false, false, {10, 99, 0, 5}, 2000, 11002, 0, 1000},
      {"no route, datagram socket", true, false, {10, 99, 0, 5}, 2000, 11002, 0, 1000},
  };
  for (const NamespaceCase& c : cases) {
    const std::string answer = RunInPrivateNamespace(c);
    int status = -1, ms = -1;
    if (std::sscanf(answer.c_str(), "%d %d", &status, &ms) != 2) {
      if (answer == "no namespace") GTEST_SKIP() << "network namespaces unavailable";
      ADD_FAILURE() << c.Name << ": " << answer;
      continue;
    }
    EXPECT_EQ(status, c.Status) << c.Name;
    EXPECT_GE(ms, c.MinMs) << c.Name;
    EXPECT_LE(ms, c.MaxMs) << c.Name;
  }
}

}  // namespace
}  // namespace quorvex::posix
