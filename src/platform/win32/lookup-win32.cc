#include <cstring>

#include "platform/win32/win32_backend.h"
#include "platform/win32/win32_headers.h"

namespace quorvex::win32 {
namespace {

// The socket library is started for one lookup and released right after it,
// so nothing of it outlives the query that needed it. WSACleanup runs even
// when the start failed, balancing the call as the library counts them.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data{};
    started_ = WSAStartup(MAKEWORD(2, 0), &data) == 0 && LOBYTE(data.wVersion) == 2;
  }
  ~WinsockSession() { WSACleanup(); }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  bool Started() const { return started_; }

 private:
  bool started_ = false;
};

class Win32Lookup : public LookupService {
 public:
  std::optional<Ipv4Address> FirstAddressOf(const std::string& name) override {
    WinsockSession session;
    if (!session.Started()) return std::nullopt;
    const hostent* entry = gethostbyname(name.c_str());
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 || entry->h_addr_list == nullptr ||
        entry->h_addr_list[0] == nullptr) {
      return std::nullopt;
    }
    Ipv4Address address{};
    std::memcpy(address.data(), entry->h_addr_list[0], address.size());
    return address;
  }

  std::optional<std::string> OfficialNameOf(const Ipv4Address& address) override {
    WinsockSession session;
    if (!session.Started()) return std::nullopt;
    const hostent* entry = gethostbyaddr(reinterpret_cast<const char*>(address.data()), 4, AF_INET);
    if (entry == nullptr) return std::nullopt;
    return std::string(entry->h_name != nullptr ? entry->h_name : "");
  }

  std::string LocalHostName() override {
    WinsockSession session;
    if (!session.Started()) return {};
    char buffer[256] = {};
    if (gethostname(buffer, sizeof buffer) != 0) return {};
    return std::string(buffer, strnlen(buffer, sizeof buffer));
  }

  std::optional<Ipv4Address> InetAddr(const std::string& text) override {
    unsigned long value = inet_addr(text.c_str());
    if (value == INADDR_NONE) return std::nullopt;
    Ipv4Address address{};
    std::memcpy(address.data(), &value, address.size());
    return address;
  }
};

}  // namespace

std::unique_ptr<LookupService> MakeLookupService() { return std::make_unique<Win32Lookup>(); }

}  // namespace quorvex::win32
