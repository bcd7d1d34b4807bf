#include "records/blockers.h"

#include <cmath>

#include "records/host_key.h"

namespace quorvex::records {
namespace {

bool SameName(std::string_view a, std::string_view b) {
  return !a.empty() && UpperCaseHostText(a) == UpperCaseHostText(b);
}

bool HasMoveFacts(const MoveFacts& m) {
  return m.ClockSkewS || m.RebootPending || m.RemoteRegistry || m.DomainServices || m.LocalAdmins || m.Profiles;
}

template <typename Entries, typename DomainOf>
std::size_t CountInOldDomain(const HostRecord& record, const Entries& entries, DomainOf domainOf) {
  std::size_t count = 0;
  if (!entries) return count;
  for (const auto& entry : *entries) count += InOldDomain(record, domainOf(entry)) ? 1 : 0;
  return count;
}

}  // namespace

std::string AccountDomain(std::string_view account) {
  if (const auto slash = account.find('\\'); slash != std::string_view::npos)
    return std::string(account.substr(0, slash));
  if (const auto at = account.rfind('@'); at != std::string_view::npos) return std::string(account.substr(at + 1));
  return {};
}

bool InOldDomain(const HostRecord& record, std::string_view domain) {
  const MoveFacts& m = record.Move;
  if (!m.OldDomain || domain.empty()) return false;
  if (SameName(domain, *m.OldDomain)) return true;
  // The host gives the DNS name of its own domain only: it names the old
  // domain when that is the host's own.
  return m.DnsDomain && record.Domain && SameName(*m.OldDomain, *record.Domain) && SameName(domain, *m.DnsDomain);
}

std::size_t OldDomainServices(const HostRecord& record) {
  return CountInOldDomain(record, record.Move.DomainServices,
                          [](const ServiceEntry& s) { return AccountDomain(s.Account); });
}

std::size_t OldDomainAdmins(const HostRecord& record) {
  return CountInOldDomain(record, record.Move.LocalAdmins, [](const AccountEntry& a) { return a.Domain; });
}

std::size_t OldDomainProfiles(const HostRecord& record) {
  return CountInOldDomain(record, record.Move.Profiles, [](const AccountEntry& a) { return a.Domain; });
}

void DeriveBlockers(HostRecord& record, std::string_view currentDomain) {
  MoveFacts& m = record.Move;
  m.OldDomain.reset();
  m.Blockers.reset();
  if (!HasMoveFacts(m)) return;
  if (!currentDomain.empty()) {
    m.OldDomain = std::string(currentDomain);
  } else if (record.Domain) {
    m.OldDomain = record.Domain;
  }
  std::vector<std::string>& blockers = m.Blockers.emplace();
  const auto add = [&](std::size_t row, bool stands) {
    if (stands) blockers.emplace_back(BlockerTable[row].Name);
  };
  add(0, m.ClockSkewS && std::fabs(*m.ClockSkewS) > MaxClockSkewSeconds);
  add(1, m.RebootPending && !m.RebootPending->empty());
  add(2, m.RemoteRegistry && (m.RemoteRegistry->State == "stopped" || m.RemoteRegistry->StartType == "disabled"));
  add(3, OldDomainServices(record) != 0);
  add(4, OldDomainAdmins(record) != 0);
  add(5, OldDomainProfiles(record) != 0);
}

}  // namespace quorvex::records
