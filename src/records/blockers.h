// What stands in the way of a host's move to another domain, derived from the
// facts its record holds. Blockers never change a host's exit code: they say
// what else to mend before the move.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "records/host_record.h"

namespace quorvex::records {

struct BlockerRow {
  std::string_view Name;
  std::string_view Meaning;  // what it means for the move, and what mends it
};

inline constexpr BlockerRow BlockerTable[] = {
    {"clock",
     "The host's clock is more than 5 minutes off: Kerberos refuses the join. Let it take its time from "
     "the domain (w32tm /resync) or fix its time source."},
    {"reboot-pending",
     "A restart is pending: joins and migration agents fail until the host restarts. Restart it "
     "before the move."},
    {"remote-registry",
     "The Remote Registry service is stopped or disabled, so nothing of the registry could be "
     "read. Enable and start it (for example by Group Policy) for the move."},
    {"old-domain-services",
     "Services log on with accounts of the old domain: they stop starting once those "
     "accounts are retired or no longer trusted. Give them accounts of the new domain."},
    {"old-domain-admins",
     "Local administrators come from the old domain: they lose their rights after the move "
     "unless translated. Add their new-domain accounts."},
    {"old-domain-profiles",
     "User profiles belong to old-domain accounts: their users get a new, empty profile "
     "unless the profiles are translated."},
};

// A clock further off than this, in seconds, is a blocker (Kerberos' default
// maximum skew).
inline constexpr double MaxClockSkewSeconds = 300.0;

// The domain part of a logon account: "OLDDOM" of "OLDDOM\svc", "old.example"
// of "svc@old.example"; "" for an account without one.
std::string AccountDomain(std::string_view account);

// Whether a domain name (NetBIOS, or DNS where the host gives it) names the
// record's old domain.
bool InOldDomain(const HostRecord& record, std::string_view domain);

std::size_t OldDomainServices(const HostRecord& record);
std::size_t OldDomainAdmins(const HostRecord& record);
std::size_t OldDomainProfiles(const HostRecord& record);

// For a record that holds any of the move facts: sets Move.OldDomain (the
// currentDomain given with /C, UTF-8, else the domain the host reported) and
// Move.Blockers from the facts. Leaves both null for a record without them.
void DeriveBlockers(HostRecord& record, std::string_view currentDomain);

}  // namespace quorvex::records
