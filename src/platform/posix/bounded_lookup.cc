#include "platform/posix/bounded_lookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/posix/run_clock.h"

namespace quorvex::posix {
namespace {

// Shared by the waiting caller and the helper thread, so that either may be
// the last one to let go of it.
template <typename Answer>
struct Pending {
  std::mutex Lock;
  std::condition_variable Done;
  bool Finished = false;
  std::optional<Answer> Result;
};

template <typename Answer, typename Work>
std::optional<Answer> AskWithinBound(Work work) {
  SteadyClock::time_point deadline = WaitDeadline(LookupBound);
  if (SteadyClock::now() >= deadline) return std::nullopt;
  auto pending = std::make_shared<Pending<Answer>>();
  try {
    std::thread([pending, work = std::move(work)] {
      std::optional<Answer> result = work();
      std::lock_guard<std::mutex> hold(pending->Lock);
      pending->Result = std::move(result);
      pending->Finished = true;
      pending->Done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return std::nullopt;  // no thread to be had: a lookup that failed
  }
  std::unique_lock<std::mutex> hold(pending->Lock);
  pending->Done.wait_until(hold, deadline, [&] { return pending->Finished; });
  return pending->Finished ? pending->Result : std::nullopt;
}

std::optional<Ipv4Address> AskAddress(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;  // one entry per address, not one per socket type
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return std::nullopt;
  std::optional<Ipv4Address> first;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
    const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
    Ipv4Address address;
    std::memcpy(address.data(), &in->sin_addr, address.size());
    first = address;
    break;
  }
  freeaddrinfo(found);
  return first;
}

std::optional<std::string> AskName(const Ipv4Address& address) {
  sockaddr_in in{};
  in.sin_family = AF_INET;
  std::memcpy(&in.sin_addr, address.data(), address.size());
  char name[NI_MAXHOST];
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&in), sizeof in, name, sizeof name, nullptr, 0, NI_NAMEREQD) != 0) {
    return std::nullopt;
  }
  return std::string(name);
}

}  // namespace

std::optional<Ipv4Address> BoundedAddressOf(const std::string& utf8Name) {
  static std::map<std::string, std::optional<Ipv4Address>> known;
  if (auto found = known.find(utf8Name); found != known.end()) return found->second;
  std::optional<Ipv4Address> answer = AskWithinBound<Ipv4Address>([utf8Name] { return AskAddress(utf8Name); });
  known[utf8Name] = answer;
  return answer;
}

std::optional<std::string> BoundedNameOf(const Ipv4Address& address) {
  return AskWithinBound<std::string>([address] { return AskName(address); });
}

}  // namespace quorvex::posix
