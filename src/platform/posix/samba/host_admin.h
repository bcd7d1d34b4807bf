// What a move to another domain needs to know of a host, asked over the SMB
// session the other calls use: its services (svcctl), the members of its
// local Administrators group (samr), the names of SIDs and its domains
// (lsarpc) through Samba's generated marshalling, and its clock (the SMB
// NEGOTIATE response, else srvsvc NetRemoteTOD in hand-written NDR).
//
// Each call pins the session its first request used: a handle opened on the
// host means nothing in another session. No handle is closed one by one: the
// host lets them go when the session ends, with the check. The services are
// asked as a call chain (service_control.h), which a prepared listing runs
// beside the checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/platform.h"
#include "platform/posix/samba/session_pool.h"

struct lsa_RefDomainList;
struct lsa_TransNameArray;

namespace quorvex::samba {

// The calls over the pool `pool` hands out when first asked (null when
// Samba's client cannot be used: every call then fails as for a host out of
// reach).
std::unique_ptr<HostAdminService> MakeHostAdmin(std::function<SessionPool*()> pool);

// NetRemoteTOD alone, with our clock taken halfway through the call: what
// RemoteClock answers when the NEGOTIATE response carried no time.
CallStatus RemoteTimeOfDay(SessionPool& pool, const std::string& server, std::int64_t& hostMs, std::int64_t& localMs);

// Fills Name, Domain and Use of accounts[0 .. count) from what LsaLookupSids
// answered for them (either pointer may be null, either array short): a SID
// the host could not translate, or has no entry for, gets SidTypeUnknown (8)
// and empty names; a domain index out of range, an empty domain.
void FillTranslations(const lsa_RefDomainList* domains, const lsa_TransNameArray* names, AccountInfo* accounts,
                      std::size_t count);

}  // namespace quorvex::samba
