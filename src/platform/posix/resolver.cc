// Lookups through the system resolver (nsswitch: hosts file, DNS, ...). The
// core's names are code page 437; the resolver speaks UTF-8.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/posix/cp437.h"
#include "platform/posix/local_services.h"

namespace quorvex::posix {
namespace {

class SystemLookup : public LookupService {
 public:
  std::optional<Ipv4Address> FirstAddressOf(const std::string& name) override {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address, not one per socket type
    addrinfo* found = nullptr;
    if (getaddrinfo(Cp437ToUtf8(name).c_str(), nullptr, &hints, &found) != 0) return std::nullopt;
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

  std::optional<std::string> OfficialNameOf(const Ipv4Address& address) override {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    std::memcpy(&in.sin_addr, address.data(), address.size());
    char name[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&in), sizeof in, name, sizeof name, nullptr, 0, NI_NAMEREQD) !=
        0) {
      return std::nullopt;
    }
    return Utf8ToCp437(name);
  }

  std::string LocalHostName() override {
    char name[256 + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return Utf8ToCp437(name);
  }

  std::optional<Ipv4Address> InetAddr(const std::string& text) override {
    const in_addr_t value = inet_addr(Cp437ToUtf8(text).c_str());
    if (value == INADDR_NONE) return std::nullopt;
    Ipv4Address address;
    std::memcpy(address.data(), &value, address.size());
    return address;
  }
};

}  // namespace

std::unique_ptr<LookupService> OpenLookup() { return std::make_unique<SystemLookup>(); }

}  // namespace quorvex::posix
