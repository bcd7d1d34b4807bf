#include "host/lookup.h"

#include "host/address.h"

namespace quorvex {

namespace {

constexpr Ipv4Address ZeroAddress{};

// A reverse answer comes from whoever runs the DNS zone; anything beyond the
// characters of a host name is not trusted as a name at all.
bool IsHostNameByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
}

bool IsPlausibleHostName(const std::string& name) {
  for (char c : name) {
    if (!IsHostNameByte(c)) return false;
  }
  return true;
}

}  // namespace

Ipv4Address ResolveNameToAddress(LookupService& lookup, const std::string& name) {
  return lookup.FirstAddressOf(name).value_or(ZeroAddress);
}

std::string ResolveAddressToName(LookupService& lookup, const Ipv4Address& address) {
  // The zero address stands for this computer, which a reverse query would
  // not name.
  std::string name =
      address == ZeroAddress ? lookup.LocalHostName() : lookup.OfficialNameOf(address).value_or(std::string());
  if (!IsPlausibleHostName(name)) return std::string();
  return name;
}

std::string ResolveNameToDottedQuad(LookupService& lookup, const std::string& name) {
  return FormatDottedQuad(ResolveNameToAddress(lookup, name));
}

}  // namespace quorvex
