// What the host's policy (lsarpc) and accounts database (samr) say of it, as
// call chains through Samba's generated marshalling, so that they too can
// run beside the checks; and the SID and policy pieces the host
// administration's other calls share with them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/platform.h"
#include "platform/posix/samba/host_chain.h"

extern "C" {
#include <core/ntstatus.h>
#include <dcerpc.h>
#include <gen_ndr/lsa.h>
#include <gen_ndr/security.h>
}

namespace quorvex::samba {

// lsarpc has no installed opnum header.
inline constexpr std::uint16_t OpLsaQueryInfoPolicy = 7;
inline constexpr std::uint16_t OpLsaLookupSids = 15;
inline constexpr std::uint16_t OpLsaOpenPolicy2 = 44;

// The host's own account domain SID and the DNS name of the domain it
// belongs to, "" when it has none (OpenPolicy2, then QueryInfoPolicy at the
// account domain and DNS levels); failures as LsaQueryInformationPolicy.
class DomainsChain : public HostChain {
 public:
  using HostChain::HostChain;
  std::string AccountDomainSid;
  std::string DnsDomain;
};
std::unique_ptr<DomainsChain> HostDomainsQuery();

// The SIDs of BUILTIN\Administrators' members (Connect2, OpenDomain of
// S-1-5-32, OpenAlias 544, GetMembersInAlias); failures as
// NetLocalGroupGetMembers.
class MembersChain : public HostChain {
 public:
  using HostChain::HostChain;
  std::vector<AccountInfo> Members;  // Sid only
};
std::unique_ptr<MembersChain> AdministratorSidsQuery();

// An OpenPolicy2 request as Samba's own client sends it, which Windows hosts
// accept; `attributes` and `qos` must live as long as the request.
void FillOpenPolicy(lsa_OpenPolicy2& r, lsa_ObjectAttribute& attributes, lsa_QosInfo& qos, std::uint32_t access,
                    policy_handle* out);

std::string SidTextOf(const dom_sid& sid);
// Null for a text that names no SID.
std::optional<dom_sid> SidOf(const std::string& text);

}  // namespace quorvex::samba
