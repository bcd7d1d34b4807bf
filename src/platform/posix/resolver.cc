// Lookups through the system resolver (nsswitch: hosts file, DNS, ...), each
// bounded (bounded_lookup.h). The core's names are code page 437; the
// resolver speaks UTF-8.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "core/encoding.h"
#include "platform/posix/bounded_lookup.h"
#include "platform/posix/local_services.h"

namespace quorvex::posix {
namespace {

class SystemLookup : public LookupService {
 public:
  std::optional<Ipv4Address> FirstAddressOf(const std::string& name) override {
    return BoundedAddressOf(Cp437ToUtf8(name));
  }

  std::optional<std::string> OfficialNameOf(const Ipv4Address& address) override {
    std::optional<std::string> name = BoundedNameOf(address);
    if (!name) return std::nullopt;
    return Utf8ToCp437(*name);
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
