#include "platform/posix/samba/smb_text.h"

#include <gtest/gtest.h>

namespace quorvex::samba {
namespace {

struct UncCase {
  const char* Unc;
  const char* Parts;  // server and components joined by "|", a final "|" for a trailing separator; null: rejected
};

std::string Joined(const UncPath& path) {
  std::string parts = path.Server;
  for (const std::string& component : path.Components) parts += "|" + component;
  if (path.TrailingSeparator) parts += "|";
  return parts;
}

TEST(SmbUncTest, PathsSplitIntoServerAndComponents) {
  const UncCase cases[] = {
      {"\\\\QVXHOST\\admin$\\System32", "QVXHOST|admin$|System32"},
      {"\\\\QVXHOST\\admin$\\", "QVXHOST|admin$|"},
      {"\\\\192.0.2.1\\admin$\\System32", "192.0.2.1|admin$|System32"},
      // A user, a port or an escape sign means nothing in a UNC path: kept as typed.
      {"\\\\USER@HOST\\a b\\c%d", "USER@HOST|a b|c%d"},
      {"\\\\HOST:139\\share", "HOST:139|share"},
      // Code page 437 text stays code page 437 here.
      {"\\\\H\x8EST\\share", "H\x8EST|share"},
      {"\\\\HOST", "HOST"},
      {"\\\\HOST/EVIL\\share", nullptr},
      {"\\\\\\share", nullptr},
      {"\\\\", nullptr},
      {"\\HOST\\share", nullptr},
      {"HOST\\share", nullptr},
      {"\\\\HOST\\\\share", nullptr},
  };
  for (const UncCase& c : cases) {
    std::optional<UncPath> path = ParseUncPath(c.Unc);
    if (c.Parts == nullptr) {
      EXPECT_FALSE(path.has_value()) << c.Unc << " gave " << (path ? Joined(*path) : "");
    } else {
      EXPECT_EQ(path ? Joined(*path) : "<rejected>", c.Parts) << c.Unc;
    }
  }
}

TEST(SmbUncTest, ServerNames) {
  const UncCase cases[] = {
      {"\\\\QVXHOST", "QVXHOST"},
      {"QVXHOST", "QVXHOST"},
      {"\\\\192.0.2.1", "192.0.2.1"},
      {"\\\\GHOST.TEST.LAN", "GHOST.TEST.LAN"},
      {"\\\\H\x8EST", "H\xC3\x84ST"},
      {"\\\\HOST\\share", nullptr},
      {"\\\\HOST\\", nullptr},
      {"\\\\", nullptr},
      {"", nullptr},
      {"\\\\A/B", nullptr},
  };
  for (const UncCase& c : cases) {
    std::optional<std::string> name = ServerNameOf(c.Unc);
    if (c.Parts == nullptr) {
      EXPECT_FALSE(name.has_value()) << c.Unc;
    } else {
      EXPECT_EQ(name.value_or("<rejected>"), c.Parts) << c.Unc;
    }
  }
}

struct LogonCase {
  const char* User;
  const char* Passwd;
  const char* Domain;
  const char* Name;
  const char* Password;
  bool HasPassword;
};

TEST(SmbLogonTest, EnvironmentForms) {
  const LogonCase cases[] = {
      {"alice", nullptr, "", "alice", "", false},
      {"alice", "pw", "", "alice", "pw", true},
      {"SALES\\alice", "pw", "SALES", "alice", "pw", true},
      {"SALES/alice", nullptr, "SALES", "alice", "", false},
      {"alice%secret", nullptr, "", "alice", "secret", true},
      // A password in USER wins over PASSWD.
      {"SALES\\alice%se%cret", "other", "SALES", "alice", "se%cret", true},
      {"alice%", "other", "", "alice", "", true},
      {"alice@SALES.LAN", "pw", "", "alice@SALES.LAN", "pw", true},
      // An unset or empty USER falls back to the login name.
      {nullptr, "pw", "", "login", "pw", true},
      {"", nullptr, "", "login", "", false},
  };
  for (const LogonCase& c : cases) {
    Logon logon = ParseLogon(c.User, c.Passwd, "login");
    std::string label = c.User != nullptr ? c.User : "<unset>";
    EXPECT_EQ(logon.Domain, c.Domain) << label;
    EXPECT_EQ(logon.User, c.Name) << label;
    EXPECT_EQ(logon.Password, c.Password) << label;
    EXPECT_EQ(logon.HasPassword, c.HasPassword) << label;
  }
}

TEST(SmbLogonTest, WorkstationNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"vm", "VM"},
      {"build-01.sales.lan", "BUILD-01"},
      {"averyveryverylongname", "AVERYVERYVERYLO"},
      {"", "QUORVEX"},
      {".lan", "QUORVEX"},
  };
  for (const auto& [host, want] : cases) EXPECT_EQ(WorkstationNameOf(host), want) << host;
}

struct RegistryCase {
  std::uint32_t Type;
  std::vector<std::uint8_t> Data;
  std::string Ansi;
};

TEST(SmbRegistryTest, AnsiViewOfValues) {
  using namespace std::string_literals;
  const RegistryCase cases[] = {
      {1, {'W', 0, 'i', 0, 'n', 0, 'N', 0, 'T', 0, 0, 0}, "WinNT\0"s},
      {1, {'6', 0, '.', 0, '1', 0}, "6.1"},
      {2, {'%', 0, 'X', 0, 0, 0}, "%X\0"s},
      {7, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}, "a\0b\0\0"s},
      {1, {0xC4, 0x00, 0x00, 0x00}, "\x8E\0"s},  // U+00C4 is 0x8E in code page 437
      {1, {'x', 0, 'y'}, "x"},                   // an odd last byte is no code unit
      {1, {}, ""},
      {4, {1, 2, 3, 4}, "\x01\x02\x03\x04"},  // REG_DWORD passes through
      {3, {0, 0xFF}, "\0\xFF"s},
  };
  for (const RegistryCase& c : cases) {
    EXPECT_EQ(AnsiRegistryData(c.Type, c.Data), c.Ansi) << "type " << c.Type << ", " << c.Data.size() << " bytes";
  }
}

// Each text either reads as the SID given and is written back as `written`,
// or is refused (Sub empty and Written null).
TEST(SmbSidTest, TextsAndParts) {
  const struct {
    const char* Text;
    std::uint64_t Authority;
    std::vector<std::uint32_t> Sub;
    const char* Written;
  } cases[] = {
      {"S-1-5-32-544", 5, {32, 544}, "S-1-5-32-544"},
      {"S-1-5-21-25995411-1072188831-3620951036-1000",
       5,
       {21, 25995411, 1072188831, 3620951036, 1000},
       "S-1-5-21-25995411-1072188831-3620951036-1000"},
      {"s-1-1-0", 1, {0}, "S-1-1-0"},
      {"S-1-5", 5, {}, "S-1-5"},
      {"S-1-5-21-4294967295", 5, {21, 4294967295U}, "S-1-5-21-4294967295"},
      {"S-1-0x000000000005-18", 5, {18}, "S-1-5-18"},
      {"S-1-0x123456789abc-1", 0x123456789abcULL, {1}, "S-1-0x123456789ABC-1"},
      {"S-1-4294967296-1", 0x100000000ULL, {1}, "S-1-0x000100000000-1"},
      {"S-1-1-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15",
       1,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
       "S-1-1-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15"},
      // Refused.
      {"S-1-1-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16", 0, {}, nullptr},  // 16 sub-authorities
      {"S-2-5-32", 0, {}, nullptr},
      {"S-1-5-21-4294967296", 0, {}, nullptr},
      {"S-1-281474976710656-1", 0, {}, nullptr},  // 2^48
      {"S-1-0x1000000000000-1", 0, {}, nullptr},
      {"S-1-5--1", 0, {}, nullptr},
      {"S-1-5-32-", 0, {}, nullptr},
      {"S-1-5-+32", 0, {}, nullptr},
      {"S-1-5-0x20", 0, {}, nullptr},
      {"S-1-0x-1", 0, {}, nullptr},
      {"S-1-", 0, {}, nullptr},
      {"S-1", 0, {}, nullptr},
      {"X-1-5", 0, {}, nullptr},
      {"", 0, {}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    std::optional<SidParts> sid = ParseSid(c.Text);
    ASSERT_EQ(sid.has_value(), c.Written != nullptr);
    if (!sid) continue;
    EXPECT_EQ(sid->Revision, 1);
    EXPECT_EQ(sid->Authority, c.Authority);
    EXPECT_EQ(sid->SubAuthorities, c.Sub);
    EXPECT_EQ(SidText(*sid), c.Written);
  }
}

}  // namespace
}  // namespace quorvex::samba
