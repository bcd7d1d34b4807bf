#include "platform/posix/samba/account_chains.h"

#include <algorithm>

#include "platform/posix/samba/smb_text.h"
#include "platform/posix/samba/win32_status.h"

extern "C" {
#include <core/ntstatus.h>
#include <gen_ndr/ndr_samr.h>
#include <gen_ndr/samr.h>
}

namespace quorvex::samba {
namespace {

// The Win32 calls the chains stand for, as CallStatus names them.
constexpr const char* QueryPolicy = "LsaQueryInformationPolicy";
constexpr const char* LocalGroupMembers = "NetLocalGroupGetMembers";

constexpr std::uint32_t AdministratorsRid = 0x220;

// lsarpc and samr answer NTSTATUS results.
std::uint32_t Win32Of(NTSTATUS result) { return Win32StatusOfResult(NT_STATUS_V(result)); }

class Domains final : public DomainsChain {
 public:
  Domains() : DomainsChain(QueryPolicy) {}

  Request First() override {
    FillOpenPolicy(open_, attributes_, qos_, LSA_POLICY_VIEW_LOCAL_INFORMATION, &policy_);
    return {OpLsaOpenPolicy2, &open_};
  }

  Request Answered() override {
    switch (stage_) {
      case Stage::Policy:
        if (!NT_STATUS_IS_OK(open_.out.result)) return Fail(Win32Of(open_.out.result));
        if (open_.out.handle != nullptr) policy_ = *open_.out.handle;
        stage_ = Stage::AccountDomain;
        return AskLevel(LSA_POLICY_INFO_ACCOUNT_DOMAIN);
      case Stage::AccountDomain:
        if (!NT_STATUS_IS_OK(query_.out.result)) return Fail(Win32Of(query_.out.result));
        if (Info() == nullptr) return Fail(Win32::InvalidData);
        sid_ = Info()->account_domain.sid != nullptr ? SidTextOf(*Info()->account_domain.sid) : std::string();
        stage_ = Stage::Dns;
        return AskLevel(LSA_POLICY_INFO_DNS);
      case Stage::Dns: {
        std::string dns;
        // A host that keeps no DNS domain information (Samba outside an AD
        // domain) refuses the level: it belongs to no DNS domain.
        if (NT_STATUS_IS_OK(query_.out.result)) {
          if (Info() == nullptr) return Fail(Win32::InvalidData);
          dns = Cp437OfUtf8(Info()->dns.dns_domain.string);
        } else if (!NT_STATUS_EQUAL(query_.out.result, NT_STATUS_INVALID_INFO_CLASS)) {
          return Fail(Win32Of(query_.out.result));
        }
        AccountDomainSid = std::move(sid_);
        DnsDomain = std::move(dns);
        return Succeed();
      }
    }
    return {};
  }

 private:
  enum class Stage { Policy, AccountDomain, Dns };

  Request AskLevel(lsa_PolicyInfo level) {
    info_ = nullptr;
    query_ = {};
    query_.in.handle = &policy_;
    query_.in.level = level;
    query_.out.info = &info_;
    return {OpLsaQueryInfoPolicy, &query_};
  }
  const lsa_PolicyInformation* Info() const { return query_.out.info != nullptr ? *query_.out.info : nullptr; }

  Stage stage_ = Stage::Policy;
  lsa_QosInfo qos_{};
  lsa_ObjectAttribute attributes_{};
  lsa_OpenPolicy2 open_{};
  policy_handle policy_{};
  lsa_PolicyInformation* info_ = nullptr;
  lsa_QueryInfoPolicy query_{};
  std::string sid_;
};

class AdministratorSids final : public MembersChain {
 public:
  AdministratorSids() : MembersChain(LocalGroupMembers) {}

  Request First() override {
    connect_.in.system_name = nullptr;
    connect_.in.access_mask = SAMR_ACCESS_CONNECT_TO_SERVER | SAMR_ACCESS_LOOKUP_DOMAIN;
    connect_.out.connect_handle = &connectHandle_;
    return {NDR_SAMR_CONNECT2, &connect_};
  }

  Request Answered() override {
    switch (stage_) {
      case Stage::Connect:
        if (!NT_STATUS_IS_OK(connect_.out.result)) return Fail(Win32Of(connect_.out.result));
        if (connect_.out.connect_handle != nullptr) connectHandle_ = *connect_.out.connect_handle;
        stage_ = Stage::Domain;
        builtin_ = *SidOf("S-1-5-32");
        domain_.in.connect_handle = &connectHandle_;
        domain_.in.access_mask = SAMR_DOMAIN_ACCESS_OPEN_ACCOUNT;
        domain_.in.sid = &builtin_;
        domain_.out.domain_handle = &domainHandle_;
        return {NDR_SAMR_OPENDOMAIN, &domain_};
      case Stage::Domain:
        if (!NT_STATUS_IS_OK(domain_.out.result)) return Fail(Win32Of(domain_.out.result));
        if (domain_.out.domain_handle != nullptr) domainHandle_ = *domain_.out.domain_handle;
        stage_ = Stage::Alias;
        alias_.in.domain_handle = &domainHandle_;
        alias_.in.access_mask = SAMR_ALIAS_ACCESS_GET_MEMBERS;
        alias_.in.rid = AdministratorsRid;
        alias_.out.alias_handle = &aliasHandle_;
        return {NDR_SAMR_OPENALIAS, &alias_};
      case Stage::Alias:
        if (!NT_STATUS_IS_OK(alias_.out.result)) return Fail(Win32Of(alias_.out.result));
        if (alias_.out.alias_handle != nullptr) aliasHandle_ = *alias_.out.alias_handle;
        stage_ = Stage::Members;
        members_.in.alias_handle = &aliasHandle_;
        members_.out.sids = &sids_;
        return {NDR_SAMR_GETMEMBERSINALIAS, &members_};
      case Stage::Members:
        return TookMembers();
    }
    return {};
  }

 private:
  enum class Stage { Connect, Domain, Alias, Members };

  Request TookMembers() {
    if (!NT_STATUS_IS_OK(members_.out.result)) return Fail(Win32Of(members_.out.result));
    const lsa_SidArray* sids = members_.out.sids;
    if (sids == nullptr || (sids->num_sids != 0 && sids->sids == nullptr)) return Fail(Win32::InvalidData);
    for (std::uint32_t i = 0; i < sids->num_sids; ++i) {
      if (sids->sids[i].sid == nullptr) continue;
      AccountInfo member;
      member.Sid = SidTextOf(*sids->sids[i].sid);
      Members.push_back(std::move(member));
    }
    return Succeed();
  }

  Stage stage_ = Stage::Connect;
  samr_Connect2 connect_{};
  policy_handle connectHandle_{};
  dom_sid builtin_{};
  samr_OpenDomain domain_{};
  policy_handle domainHandle_{};
  samr_OpenAlias alias_{};
  policy_handle aliasHandle_{};
  lsa_SidArray sids_{};
  samr_GetMembersInAlias members_{};
};

}  // namespace

std::unique_ptr<DomainsChain> HostDomainsQuery() { return std::make_unique<Domains>(); }

std::unique_ptr<MembersChain> AdministratorSidsQuery() { return std::make_unique<AdministratorSids>(); }

void FillOpenPolicy(lsa_OpenPolicy2& r, lsa_ObjectAttribute& attributes, lsa_QosInfo& qos, std::uint32_t access,
                    policy_handle* out) {
  qos = {};
  qos.len = 0xc;
  qos.impersonation_level = 2;
  qos.context_mode = 1;
  attributes = {};
  attributes.len = 0x18;
  attributes.sec_qos = &qos;
  r = {};
  r.in.system_name = nullptr;
  r.in.attr = &attributes;
  r.in.access_mask = access;
  r.out.handle = out;
}

std::string SidTextOf(const dom_sid& sid) {
  SidParts parts;
  parts.Revision = sid.sid_rev_num;
  for (std::uint8_t byte : sid.id_auth) parts.Authority = (parts.Authority << 8) | byte;
  const auto count =
      std::min<std::size_t>(static_cast<std::size_t>(std::max<int>(sid.num_auths, 0)), MaxSubAuthorities);
  parts.SubAuthorities.assign(sid.sub_auths, sid.sub_auths + count);
  return SidText(parts);
}

std::optional<dom_sid> SidOf(const std::string& text) {
  std::optional<SidParts> parts = ParseSid(text);
  if (!parts) return std::nullopt;
  dom_sid sid{};
  sid.sid_rev_num = parts->Revision;
  sid.num_auths = static_cast<std::int8_t>(parts->SubAuthorities.size());
  for (int i = 5; i >= 0; --i) sid.id_auth[i] = static_cast<std::uint8_t>(parts->Authority >> (8 * (5 - i)));
  std::copy(parts->SubAuthorities.begin(), parts->SubAuthorities.end(), sid.sub_auths);
  return sid;
}

}  // namespace quorvex::samba
