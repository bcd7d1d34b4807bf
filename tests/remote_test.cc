#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "core/smb_dialect.h"
#include "fake_platform.h"
#include "remote/admin_share.h"
#include "remote/computer_role.h"
#include "remote/os_details.h"
#include "remote/os_version.h"
#include "remote/registry_read.h"
#include "remote/smb_connection.h"

namespace quorvex {
namespace {

using Script = std::function<void(FakePlatform&)>;
const Script Unchanged = [](FakePlatform&) {};

const HostIdentity Pc042{"PC042.SALES.LAN", "PC042", "192.168.10.42", "192.168.10.42", false};
constexpr char Pc042Unc[] = "\\\\PC042";
constexpr std::uint64_t Max64 = std::numeric_limits<std::uint64_t>::max();

RunSettings DefaultSettings() {
  RunSettings settings;
  settings.FreeSpaceText = "15";
  settings.RequiredFreeBytes = 15728640;
  return settings;
}

TEST(AdminShareTest, FreeBytesMultiplyWithoutWrapping) {
  const struct {
    std::optional<DiskFreeSpace> Space;
    std::uint64_t FreeBytes;
  } cases[] = {
      {std::nullopt, 0},
      {DiskFreeSpace{8, 512, 1000, 99}, 4096000},
      {DiskFreeSpace{0, 512, 1000, 99}, 0},
      {DiskFreeSpace{1u << 16, 1u << 16, 1ull << 32, 0}, Max64},  // exactly 2^64
      {DiskFreeSpace{1ull << 32, 1ull << 32, 0, 0}, 0},
      {DiskFreeSpace{3, 1ull << 62, 1, 0}, 3ull << 62},
      {DiskFreeSpace{5, 1ull << 62, 1, 0}, Max64},
      {DiskFreeSpace{1, 1, Max64, 0}, Max64},
  };
  for (const auto& c : cases) {
    FakePlatform fake;
    fake.FreeSpace = c.Space;
    EXPECT_EQ(QueryFreeBytes(fake.Services().Files, "\\\\PC042\\admin$\\"), c.FreeBytes);
    EXPECT_EQ(fake.Unreleased(), "");
  }
}

TEST(AdminShareTest, OneLinePerRunAndSixteenOnFailure) {
  const auto freeBytes = [](std::uint64_t bytes) {
    return [=](FakePlatform& f) { f.FreeSpace = DiskFreeSpace{1, 1, bytes, 0}; };
  };
  const auto threshold = [](const char* text, std::int64_t bytes, bool skip) {
    RunSettings settings = DefaultSettings();
    settings.FreeSpaceText = text;
    settings.RequiredFreeBytes = bytes;
    settings.SkipFreeSpace = skip;
    return settings;
  };
  const std::string probe = "FindFirstFileA \\\\PC042\\admin$\\System32";
  const std::string root = "GetDiskFreeSpaceA \\\\PC042\\admin$\\";
  // clang-format off
  const struct {
    const char* Name;
    RunSettings Settings;
    std::string Unc;
    Script Setup;
    std::string Output;
    std::uint16_t Added;
    std::vector<std::string> Calls;
  } cases[] = {
      {"plenty of space", DefaultSettings(), Pc042Unc, Unchanged,
       " + Admin$ share exists and has greater than 15MB free.\r\n", 0, {probe, "FindClose", root}},
      {"exactly the threshold fails", DefaultSettings(), Pc042Unc, freeBytes(15728640),
       " - Admin$ share exists but has less than 15MB free.\r\n", 16, {probe, "FindClose", root}},
      {"one byte more passes", DefaultSettings(), Pc042Unc, freeBytes(15728641),
       " + Admin$ share exists and has greater than 15MB free.\r\n", 0, {probe, "FindClose", root}},
      {"a failed query counts as no space", DefaultSettings(), Pc042Unc,
       [](FakePlatform& f) { f.FreeSpace.reset(); },
       " - Admin$ share exists but has less than 15MB free.\r\n", 16, {probe, "FindClose", root}},
      {"the threshold text is echoed as typed", threshold("020", 20971520, false), Pc042Unc,
       freeBytes(20971520), " - Admin$ share exists but has less than 020MB free.\r\n", 16,
       {probe, "FindClose", root}},
      {"largest threshold", threshold("2048", 2147483648LL, false), Pc042Unc, freeBytes(2147483649ULL),
       " + Admin$ share exists and has greater than 2048MB free.\r\n", 0, {probe, "FindClose", root}},
      {"counters too large to multiply pass", DefaultSettings(), Pc042Unc,
       [](FakePlatform& f) { f.FreeSpace = DiskFreeSpace{1ull << 33, 1ull << 33, 1, 0}; },
       " + Admin$ share exists and has greater than 15MB free.\r\n", 0, {probe, "FindClose", root}},
      {"/D skips the free space", threshold("15", 15728640, true), Pc042Unc, freeBytes(0),
       " + Admin$ share exists.\r\n", 0, {probe, "FindClose"}},
      {"/D does not hide a missing share", threshold("15", 15728640, true), Pc042Unc,
       [](FakePlatform& f) { f.ExistingPaths.clear(); },
       " - Admin$ share does NOT exist or we have no access to it.\r\n", 16, {probe}},
      {"missing share, no free-space query", DefaultSettings(), Pc042Unc,
       [](FakePlatform& f) { f.ExistingPaths.clear(); },
       " - Admin$ share does NOT exist or we have no access to it.\r\n", 16, {probe}},
      {"the server name of the retry addresses both paths", DefaultSettings(), "\\\\192.168.10.42",
       [](FakePlatform& f) {
         f.ExistingPaths = {"\\\\192.168.10.42\\admin$\\System32"};
       },
       " + Admin$ share exists and has greater than 15MB free.\r\n", 0,
       {"FindFirstFileA \\\\192.168.10.42\\admin$\\System32", "FindClose",
        "GetDiskFreeSpaceA \\\\192.168.10.42\\admin$\\"}},
  };
  // clang-format on
  for (const auto& c : cases) {
    for (const bool quiet : {false, true}) {
      SCOPED_TRACE(std::string(c.Name) + (quiet ? ", quiet" : ""));
      FakeStage s;
      c.Setup(s.Fake);
      s.Out.OutputEnabled = !quiet;
      EXPECT_EQ(CheckAdminShare(s.Env, c.Settings, Pc042, c.Unc), c.Added);
      EXPECT_EQ(s.Fake.Output, quiet ? "" : c.Output);
      EXPECT_EQ(s.Fake.Calls, c.Calls);
      EXPECT_EQ(s.Fake.Titles, std::vector<std::string>{"PC042.SALES.LAN: Checking admin$ share..."});
      EXPECT_EQ(s.Fake.Unreleased(), "");
    }
  }
}

TEST(RegistryReadTest, TheMarkerIsTheOnlyFailureSignal) {
  // clang-format off
  const struct {
    const char* Name;
    Script Setup;
    bool KeyOpened;
    std::string Text;
  } cases[] = {
      {"value read", Unchanged, true, "WinNT"},
      {"key refused", [](FakePlatform& f) { f.KeyOpenStatus[FakePlatform::ProductKey] = 5; }, false,
       ""},
      {"value missing",
       [](FakePlatform& f) { f.RemoveRegistryValue(FakePlatform::ProductKey, "ProductType"); }, true,
       "*ERROR*"},
      {"value longer than the buffer",
       [](FakePlatform& f) { f.SetRegistryValue(FakePlatform::ProductKey, "ProductType", std::string(1024, 'x')); },
       true, "*ERROR*"},
      {"a full buffer without a NUL is read whole",
       [](FakePlatform& f) { f.SetRegistryBytes(FakePlatform::ProductKey, "ProductType", std::string(1024, 'x')); },
       true, std::string(1024, 'x')},
      {"text ends at the first NUL",
       [](FakePlatform& f) { f.SetRegistryBytes(FakePlatform::ProductKey, "ProductType", std::string("Lanman\0Nt", 9)); },
       true, "Lanman"},
      {"a string stored without its NUL does not take the marker's tail",
       [](FakePlatform& f) { f.SetRegistryBytes(FakePlatform::ProductKey, "ProductType", "4.0"); }, true,
       "4.0"},
      {"a short value ends the marker",
       [](FakePlatform& f) { f.SetRegistryValue(FakePlatform::ProductKey, "ProductType", "ab"); }, true,
       "ab"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    FakePlatform fake;
    c.Setup(fake);
    {
      std::unique_ptr<RegistryKey> root;
      ASSERT_EQ(fake.Services().Registry.ConnectRegistry(Pc042Unc, root), 0);
      const RegistryRead read = ReadRemoteRegistryString(*root, FakePlatform::ProductKey, "ProductType");
      EXPECT_EQ(read.KeyOpened, c.KeyOpened);
      EXPECT_EQ(read.Text, c.Text);
      // Only the root key may still be open once the read returns.
      EXPECT_EQ(fake.RegistryKeys.HandedOut - fake.RegistryKeys.Released, 1);
    }
    EXPECT_EQ(fake.Unreleased(), "");
  }
}

TEST(ComputerRoleTest, RoleTableAndRegistryAccess) {
  const auto product = [](std::string value) {
    return [=](FakePlatform& f) { f.SetRegistryValue(FakePlatform::ProductKey, "ProductType", value); };
  };
  // clang-format off
  const struct {
    const char* Name;
    bool WorkstationOnly;
    Script Setup;
    std::string Output;
    std::uint16_t Added;
    bool KeyHandedOn;
  } cases[] = {
      {"workstation", false, Unchanged, " + Connected to remote registry.\r\n + WORKSTATION role.\r\n", 0,
       true},
      {"workstation with /W", true, Unchanged,
       " + Connected to remote registry.\r\n + WORKSTATION role.\r\n", 0, true},
      {"server", false, product("ServerNT"), " + Connected to remote registry.\r\n + SERVER role.\r\n",
       0, true},
      {"server with /W", true, product("LanmanNT"),
       " + Connected to remote registry.\r\n - SERVER role.\r\n", 32, true},
      {"letter case matters", true, product("winnt"),
       " + Connected to remote registry.\r\n - SERVER role.\r\n", 32, true},
      {"an empty value is a server", false, product(""),
       " + Connected to remote registry.\r\n + SERVER role.\r\n", 0, true},
      {"the marker as a value reads as unknown", false, product("*ERROR*"),
       " + Connected to remote registry.\r\n - UNKNOWN role.\r\n", 32, true},
      {"missing value", true,
       [](FakePlatform& f) { f.RemoveRegistryValue(FakePlatform::ProductKey, "ProductType"); },
       " + Connected to remote registry.\r\n - UNKNOWN role.\r\n", 32, true},
      {"no connection", false, [](FakePlatform& f) { f.ConnectStatus = 53; },
       " - Can NOT access remote registry. Non-NT OS or access denied.\r\n", 128, false},
      {"key refused closes the root key", false,
       [](FakePlatform& f) { f.KeyOpenStatus[FakePlatform::ProductKey] = FakePlatform::ErrorAccessDenied; },
       " + Connected to remote registry.\r\n"
       " - Can NOT access Computer role info via remote registry. Access denied.\r\n",
       128, false},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeStage s;
    c.Setup(s.Fake);
    RunSettings settings = DefaultSettings();
    settings.WorkstationOnly = c.WorkstationOnly;
    RoleVerdict verdict = CheckComputerRole(s.Env, settings, Pc042, Pc042Unc);
    EXPECT_EQ(s.Fake.Output, c.Output);
    EXPECT_EQ(verdict.Added, c.Added);
    EXPECT_EQ(verdict.RootKey != nullptr, c.KeyHandedOn);
    EXPECT_EQ(s.Fake.Titles, std::vector<std::string>{"PC042.SALES.LAN: Checking Computer role..."});
    EXPECT_EQ(s.Fake.Calls.front(), "RegConnectRegistryA \\\\PC042");
    if (!c.KeyHandedOn) {
      EXPECT_EQ(s.Fake.Unreleased(), "");
    }
    verdict.RootKey.reset();
    EXPECT_EQ(s.Fake.Unreleased(), "");
  }
}

TEST(OsVersionTest, ByteOrderAgainstFivePointZero) {
  const struct {
    std::string Version;
    bool Passes;
  } cases[] = {
      {"5.0", true},   {"5.1", true},  {"5.2", true},   {"6.0", true},   {"6.3", true},
      {"5.0.1", true}, {"9", true},    {"\x80", true},  {"10.0", false}, {"5", false},
      {"4.0", false},  {"4.9", false}, {"3.51", false}, {"", false},     {"5-0", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsW2kOrGreater(c.Version), c.Passes) << c.Version;
}

TEST(OsVersionTest, VersionTableAndKeyAccess) {
  const auto version = [](std::string value) {
    return [=](FakePlatform& f) { f.SetRegistryValue(FakePlatform::VersionKey, "CurrentVersion", value); };
  };
  const struct {
    const char* Name;
    bool AllowNt4;
    Script Setup;
    std::string Output;
    std::uint16_t Added;
  } cases[] = {
      {"5.1", false, Unchanged, " + W2K or greater OS.\r\n", 0},
      {"5.0", false, version("5.0"), " + W2K or greater OS.\r\n", 0},
      {"6.3", true, version("6.3"), " + W2K or greater OS.\r\n", 0},
      {"10.0 sorts below 5.0", false, version("10.0"), " - Unsupported OS.\r\n", 64},
      {"5 alone", false, version("5"), " - Unsupported OS.\r\n", 64},
      {"NT4", false, version("4.0"), " - NT4 OS.\r\n", 64},
      {"NT4 with /A", true, version("4.0"), " + NT4 OS.\r\n", 0},
      {"3.51 with /A", true, version("3.51"), " - Unsupported OS.\r\n", 64},
      {"empty", true, version(""), " - Unsupported OS.\r\n", 64},
      {"missing value", true,
       [](FakePlatform& f) { f.RemoveRegistryValue(FakePlatform::VersionKey, "CurrentVersion"); }, " - UNKNOWN OS.\r\n",
       64},
      {"key refused", false,
       [](FakePlatform& f) { f.KeyOpenStatus[FakePlatform::VersionKey] = FakePlatform::ErrorAccessDenied; },
       " - Can NOT access OS version info via remote registry. Access denied.\r\n", 128},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeStage s;
    c.Setup(s.Fake);
    RunSettings settings = DefaultSettings();
    settings.AllowNt4 = c.AllowNt4;
    std::unique_ptr<RegistryKey> root;
    ASSERT_EQ(s.Fake.Services().Registry.ConnectRegistry(Pc042Unc, root), 0);
    EXPECT_EQ(CheckOsVersion(s.Env, settings, Pc042, root.get()), c.Added);
    root.reset();
    EXPECT_EQ(s.Fake.Output, c.Output);
    EXPECT_EQ(s.Fake.Titles, std::vector<std::string>{"PC042.SALES.LAN: Checking OS version..."});
    EXPECT_EQ(s.Fake.Releases.back(), "registry key \\\\PC042");  // the root key, closed last
    EXPECT_EQ(s.Fake.Unreleased(), "");
  }
}

// Records every detail told, as "name=value".
class DetailLog final : public FindingsSink {
 public:
  std::vector<std::string> Told;
  void Line(std::string_view) override {}
  void Text(Fact fact, std::string_view value) override { Add(fact, std::string(value)); }
  void Number(Fact fact, std::uint64_t value) override { Add(fact, std::to_string(value)); }
  void Flag(Fact, bool) override {}
  void FailedCall(std::string_view call, std::int64_t status) override {
    Told.push_back(std::string(call) + "!" + std::to_string(status));
  }
  bool WantsOsDetails() const override { return true; }

 private:
  void Add(Fact fact, const std::string& value) {
    Told.push_back(std::to_string(static_cast<int>(fact)) + "=" + value);
  }
};

std::string Told(Fact fact, const std::string& value) { return std::to_string(static_cast<int>(fact)) + "=" + value; }

TEST(OsDetailsTest, TrustsOnlyPlainValuesOfTheirType) {
  const std::string key = FakePlatform::VersionKey;
  const struct {
    const char* Name;
    Script Setup;
    std::vector<std::string> Expected;
  } cases[] = {
      {"Windows 11 23H2",
       [&](FakePlatform& f) {
         f.SetRegistryDword(key, "CurrentMajorVersionNumber", 10);
         f.SetRegistryDword(key, "CurrentMinorVersionNumber", 0);
         f.SetRegistryValue(key, "CurrentBuildNumber", "22631");
         f.SetRegistryDword(key, "UBR", 4460);
         f.SetRegistryValue(key, "DisplayVersion", "23H2");
         f.SetRegistryValue(key, "ProductName", "Windows 10 Pro");
         f.SetRegistryValue(key, "EditionID", "Professional");
         f.SetRegistryValue(key, "InstallationType", "Client");
       },
       {Told(Fact::CurrentMajorVersionNumber, "10"), Told(Fact::CurrentMinorVersionNumber, "0"),
        Told(Fact::CurrentBuildNumber, "22631"), Told(Fact::UBR, "4460"), Told(Fact::DisplayVersion, "23H2"),
        Told(Fact::ProductName, "Windows 10 Pro"), Told(Fact::EditionID, "Professional"),
        Told(Fact::InstallationType, "Client")}},
      {"wrong types, control characters, overlong",
       [&](FakePlatform& f) {
         f.SetRegistryValue(key, "CurrentMajorVersionNumber", "10");  // a string where a DWORD belongs
         f.SetRegistryDword(key, "CurrentBuildNumber", 22631);        // a DWORD where a string belongs
         f.SetRegistryBytes(key, "UBR", "\x01\x02");                  // a DWORD of two bytes
         f.RegistryTypes[{key, "UBR"}] = 4;
         f.SetRegistryValue(key, "ProductName", "Windows\x1b]0;owned\x07");
         f.SetRegistryValue(key, "EditionID", std::string(200, 'E'));
         f.SetRegistryBytes(key, "ReleaseId", "2009");  // stored without its NUL
       },
       {Told(Fact::ReleaseId, "2009")}},
      {"key refused", [&](FakePlatform& f) { f.KeyOpenStatus[key] = FakePlatform::ErrorAccessDenied; }, {}},
  };
  for (const auto& c : cases) {
    FakePlatform fake;
    fake.RemoveRegistryValue(key, "CurrentVersion");
    c.Setup(fake);
    DetailLog log;
    {
      std::unique_ptr<RegistryKey> root;
      ASSERT_EQ(fake.Services().Registry.ConnectRegistry(Pc042Unc, root), 0);
      std::unique_ptr<RegistryKey> version;
      if (root->OpenKey(key, version) == 0) ReadOsDetails(*version, log);
    }
    EXPECT_EQ(log.Told, c.Expected) << c.Name;
    EXPECT_EQ(fake.Unreleased(), "") << c.Name;
  }
}

TEST(OsDetailsTest, AskedOnlyByACallerThatRecords) {
  const std::string openVersionKey = std::string("RegOpenKeyExA ") + FakePlatform::VersionKey;
  for (const bool recording : {false, true}) {
    FakeStage stage;
    DetailLog log;
    RunEnv env{stage.Fake.Services(), stage.Out, recording ? static_cast<FindingsSink&>(log) : stage.Out.Findings()};
    std::unique_ptr<RegistryKey> root;
    ASSERT_EQ(stage.Fake.Services().Registry.ConnectRegistry(Pc042Unc, root), 0);
    EXPECT_EQ(CheckOsVersion(env, DefaultSettings(), Pc042, root.get()), 0);
    root.reset();
    // Opened once either way: a recording caller reads the details under the
    // key the version was read from.
    EXPECT_EQ(std::count(stage.Fake.Calls.begin(), stage.Fake.Calls.end(), openVersionKey), 1);
    EXPECT_EQ(log.Told.empty(), !recording);
    EXPECT_EQ(stage.Fake.Unreleased(), "");
  }
}

TEST(SmbConnectionTest, DialectNamesOfExactlyTheKnownCodes) {
  const struct {
    std::uint16_t Code;
    std::optional<std::string> Text;
  } cases[] = {
      {0x0202, "2.0.2"},      {0x0210, "2.1"},        {0x0300, "3.0"},        {0x0302, "3.0.2"},
      {0x0311, "3.1.1"},      {0x0000, std::nullopt}, {0x02FF, std::nullopt},  // the wildcard of a multi-protocol offer
      {0x0222, std::nullopt},                                                  // a draft number, never negotiated
      {0x0100, std::nullopt}, {0x0312, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(SmbDialectText(c.Code), c.Text) << std::hex << c.Code;
}

}  // namespace
}  // namespace quorvex
