#include "platform/posix/samba/host_admin.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <core/ntstatus.h>
#include <dcerpc.h>
#include <gen_ndr/lsa.h>
}

namespace quorvex::samba {
namespace {

struct Name {
  lsa_SidType Type;
  const char* Text;  // UTF-8, as Samba's unmarshalling leaves it; may be null
  std::uint32_t DomainIndex;
};

struct Want {
  std::string Domain;  // code page 437
  std::string Name;
  std::uint32_t Use;
};

// The domains every case refers to by index.
const char* const DomainNames[] = {"QVXHOST", "BUILTIN", nullptr};

TEST(LookupTranslation, WhatTheHostAnsweredBecomesAccounts) {
  const Want unknown{"", "", 8};
  const struct {
    const char* Case;
    std::vector<Name> Names;  // empty: a null names array
    bool Domains;
    std::size_t Accounts;
    std::vector<Want> Wanted;
  } cases[] = {
      {"each kind as it came",
       {{SID_NAME_USER, "root", 0}, {SID_NAME_ALIAS, "Administrators", 1}, {SID_NAME_WKN_GRP, "Everyone", 2}},
       true,
       3,
       {{"QVXHOST", "root", 1}, {"BUILTIN", "Administrators", 4}, {"", "Everyone", 5}}},
      {"untranslated: no names whatever the host put there",
       {{SID_NAME_UNKNOWN, "S-1-5-21-1-2-3-4", 0}, {SID_NAME_USE_NONE, "x", 1}},
       true,
       2,
       {unknown, unknown}},
      {"domain index out of range",
       {{SID_NAME_USER, "a", 3}, {SID_NAME_USER, "b", 0xffffffff}},
       true,
       2,
       {{"", "a", 1}, {"", "b", 1}}},
      {"no domain list", {{SID_NAME_DOM_GRP, "Domain Admins", 0}}, false, 1, {{"", "Domain Admins", 2}}},
      {"fewer names than SIDs", {{SID_NAME_USER, "root", 0}}, true, 3, {{"QVXHOST", "root", 1}, unknown, unknown}},
      {"no names at all", {}, true, 2, {unknown, unknown}},
      {"a null name", {{SID_NAME_USER, nullptr, 0}}, true, 1, {{"QVXHOST", "", 1}}},
      {"text outside ASCII in code page 437",
       {{SID_NAME_USER, "J\xC3\xBCrgen", 0}},
       true,
       1,
       {{"QVXHOST", "J\x81rgen", 1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Case);
    std::vector<lsa_DomainInfo> domainInfo(std::size(DomainNames));
    for (std::size_t i = 0; i < domainInfo.size(); ++i) domainInfo[i].name.string = DomainNames[i];
    lsa_RefDomainList domains{};
    domains.count = static_cast<std::uint32_t>(domainInfo.size());
    domains.domains = domainInfo.data();

    std::vector<lsa_TranslatedName> translated;
    for (const Name& n : c.Names) {
      lsa_TranslatedName t{};
      t.sid_type = n.Type;
      t.name.string = n.Text;
      t.sid_index = n.DomainIndex;
      translated.push_back(t);
    }
    lsa_TransNameArray names{};
    names.count = static_cast<std::uint32_t>(translated.size());
    names.names = translated.empty() ? nullptr : translated.data();

    // Whatever the accounts held before is replaced.
    std::vector<AccountInfo> accounts(c.Accounts, AccountInfo{"S-1-5-32-544", "stale", "STALE", 3});
    FillTranslations(c.Domains ? &domains : nullptr, &names, accounts.data(), accounts.size());
    ASSERT_EQ(accounts.size(), c.Wanted.size());
    for (std::size_t i = 0; i < accounts.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(accounts[i].Sid, "S-1-5-32-544");
      EXPECT_EQ(accounts[i].Domain, c.Wanted[i].Domain);
      EXPECT_EQ(accounts[i].Name, c.Wanted[i].Name);
      EXPECT_EQ(accounts[i].Use, c.Wanted[i].Use);
    }
  }
}

TEST(LookupTranslation, NoReplyLeavesEveryAccountUnknown) {
  std::vector<AccountInfo> accounts(2, AccountInfo{"S-1-1-0", "Everyone", "", 5});
  FillTranslations(nullptr, nullptr, accounts.data(), accounts.size());
  for (const AccountInfo& a : accounts) {
    EXPECT_EQ(a.Name, "");
    EXPECT_EQ(a.Use, 8u);
  }
}

}  // namespace
}  // namespace quorvex::samba
