#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "host/address.h"
#include "host/echo_probe.h"
#include "host/host_identity.h"
#include "host/lookup.h"

namespace quorvex {
namespace {

using Script = std::function<void(FakePlatform&)>;
const Script Unchanged = [](FakePlatform&) {};

TEST(AddressTest, OnlyFourDecimalFieldsUpTo255AreAddresses) {
  // clang-format off
  const struct {
    const char* Text;
    bool Valid;
  } cases[] = {
      {"192.168.0.1", true},      {"10.0.0.1", true},        {"0.0.0.0", true},
      {"000.0.0.0", true},        {"255.255.255.255", true}, {"192.168.001.010", true},
      {"192.300.1.1", false},     {"256.0.0.1", false},      {"123.4", false},
      {"1-2-3", false},           {"123.4.5.6.7", false},    {"", false},
      {"1.2.3.", false},          {".1.2.3", false},         {"1..2.3", false},
      {"1234.1.1.1", false},      {"0001.1.1.1", false},     {"+1.2.3.4", false},
      {"1.2.3.-4", false},        {"1.2.3.4 ", false},       {"&17.1.1.1", false},
  };
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(IsValidAddressText(c.Text), c.Valid) << c.Text;
}

TEST(AddressTest, ParsesFieldsAsDecimalAndFormatsWithoutPadding) {
  const struct {
    const char* Text;
    const char* Formatted;
  } cases[] = {
      {"192.168.001.010", "192.168.1.10"},  // leading zeros are not octal
      {"000.0.0.0", "0.0.0.0"},
      {"255.255.255.255", "255.255.255.255"},
      {"123.4", "123.4.0.0"},         // missing fields stay 0
      {"192.300.1.1", "192.44.1.1"},  // low eight bits only
      {"1.-1.2.3", "1.255.2.3"},
      {"&17.1.1.1", "15.1.1.1"},
      {"192..1", "192.0.1.0"},
      {"1.2.3.4.5", "1.2.3.4"},
      {"12x.7", "12.7.0.0"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatDottedQuad(ParseDottedAddress(c.Text)), c.Formatted) << c.Text;
}

TEST(HostIdentityTest, NetBiosPartIsTheTextBeforeTheFirstDot) {
  const struct {
    const char* Name;
    const char* Part;
  } cases[] = {
      {"HOST.SUB.CORP", "HOST"}, {".HOST", ".HOST"}, {"HOST", "HOST"}, {"H.", "H"}, {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(NetBiosPart(c.Name), c.Part) << c.Name;
}

TEST(LookupTest, ResolutionFailuresGiveTheAgreedValues) {
  FakePlatform fake;
  LookupService& lookup = fake.Services().Lookup;
  EXPECT_EQ(ResolveNameToDottedQuad(lookup, "PC042.SALES.LAN"), "192.168.10.42");
  EXPECT_EQ(ResolveNameToDottedQuad(lookup, "NOSUCH"), "0.0.0.0");
  EXPECT_EQ(ResolveAddressToName(lookup, {192, 168, 10, 42}), "pc042.sales.lan");
  EXPECT_EQ(ResolveAddressToName(lookup, {192, 168, 10, 43}), "");
  EXPECT_EQ(ResolveAddressToName(lookup, {0, 0, 0, 0}), "adminpc");
  fake.LocalName = "";
  EXPECT_EQ(ResolveAddressToName(lookup, {0, 0, 0, 0}), "");
  EXPECT_EQ(fake.Unreleased(), "");
}

struct IdentifyCase {
  const char* Name;
  std::string HostText;
  Script Setup;
  bool Quiet;
  std::string Output;
  bool EndsRun;
  int Code;
  HostIdentity Expected;
  std::vector<std::string> Calls;
};

TEST(HostIdentityTest, ClassifiesValidatesAndResolves) {
  const std::string badReverse = "evil\x1b]0;x\x07.lan";
  // clang-format off
  const IdentifyCase cases[] = {
      {"name resolves", "PC042.SALES.LAN", Unchanged, false,
       " + Resolved hostname to: 192.168.10.42\r\n", false, 0,
       {"PC042.SALES.LAN", "PC042", "192.168.10.42", "192.168.10.42", false},
       {"gethostbyname PC042.SALES.LAN"}},
      {"name does not resolve", "NOSUCH.SALES.LAN", Unchanged, false,
       " - Could not resolve hostname to IP Address.\r\n", true, 1,
       {"NOSUCH.SALES.LAN", "NOSUCH", "", "0.0.0.0", false},
       {"gethostbyname NOSUCH.SALES.LAN"}},
      {"quiet unresolvable prints nothing", "NOSUCH", Unchanged, true, "", true, 1,
       {"NOSUCH", "NOSUCH", "", "0.0.0.0", false}, {"gethostbyname NOSUCH"}},
      {"fifteen characters pass",
       "ABCDEFGHIJKLMNO.X",
       [](FakePlatform& f) { f.AddressOfName["ABCDEFGHIJKLMNO.X"] = {10, 1, 2, 3}; }, false,
       " + Resolved hostname to: 10.1.2.3\r\n", false, 0,
       {"ABCDEFGHIJKLMNO.X", "ABCDEFGHIJKLMNO", "10.1.2.3", "10.1.2.3", false},
       {"gethostbyname ABCDEFGHIJKLMNO.X"}},
      {"sixteen characters fail before any lookup", "ABCDEFGHIJKLMNOP.X", Unchanged, true,
       "ERROR: /M: Invalid NetBIOS hostname (must be 15 characters or less).\r\n", true, 99,
       {"ABCDEFGHIJKLMNOP.X", "ABCDEFGHIJKLMNOP", "", "", false}, {}},
      {"a leading dot keeps the whole name", ".BCDEFGHIJKLMNOP", Unchanged, false,
       "ERROR: /M: Invalid NetBIOS hostname (must be 15 characters or less).\r\n", true, 99,
       {".BCDEFGHIJKLMNOP", ".BCDEFGHIJKLMNOP", "", "", false}, {}},
      {"address resolves to an upper-case name", "192.168.10.42", Unchanged, false,
       " + Resolved IP address to: PC042.SALES.LAN\r\n", false, 0,
       {"PC042.SALES.LAN", "PC042", "192.168.10.42", "192.168.10.42", true},
       {"gethostbyaddr 192.168.10.42"}},
      {"leading zeros stay decimal and as typed", "192.168.010.042", Unchanged, false,
       " + Resolved IP address to: PC042.SALES.LAN\r\n", false, 0,
       {"PC042.SALES.LAN", "PC042", "192.168.010.042", "192.168.10.42", true},
       {"gethostbyaddr 192.168.10.42"}},
      {"a short first field is an address",
       "10.0.0.1", [](FakePlatform& f) { f.NameOfAddress[{10, 0, 0, 1}] = "gw"; }, false,
       " + Resolved IP address to: GW\r\n", false, 0, {"GW", "GW", "10.0.0.1", "10.0.0.1", true},
       {"gethostbyaddr 10.0.0.1"}},
      {"reverse name is not held to fifteen characters",
       "10.0.0.2",
       [](FakePlatform& f) { f.NameOfAddress[{10, 0, 0, 2}] = "averylonghostname42.lan"; }, false,
       " + Resolved IP address to: AVERYLONGHOSTNAME42.LAN\r\n", false, 0,
       {"AVERYLONGHOSTNAME42.LAN", "AVERYLONGHOSTNAME42", "10.0.0.2", "10.0.0.2", true},
       {"gethostbyaddr 10.0.0.2"}},
      {"zero address names this computer without a reverse query", "000.0.0.0", Unchanged, false,
       " + Resolved IP address to: ADMINPC\r\n", false, 0,
       {"ADMINPC", "ADMINPC", "000.0.0.0", "0.0.0.0", true}, {"gethostname"}},
      {"no reverse entry", "192.168.10.43", Unchanged, false,
       " - Could not resolve IP Address to hostname.\r\n", true, 1,
       {"", "192.168.10.43", "192.168.10.43", "192.168.10.43", true},
       {"gethostbyaddr 192.168.10.43"}},
      {"a reverse answer with control bytes is no name",
       "192.168.10.44",
       [&](FakePlatform& f) { f.NameOfAddress[{192, 168, 10, 44}] = badReverse; }, false,
       " - Could not resolve IP Address to hostname.\r\n", true, 1,
       {"", "192.168.10.44", "192.168.10.44", "192.168.10.44", true},
       {"gethostbyaddr 192.168.10.44"}},
      {"a reverse answer with a space is no name",
       "192.168.10.45",
       [](FakePlatform& f) { f.NameOfAddress[{192, 168, 10, 45}] = "pc 45"; }, false,
       " - Could not resolve IP Address to hostname.\r\n", true, 1,
       {"", "192.168.10.45", "192.168.10.45", "192.168.10.45", true},
       {"gethostbyaddr 192.168.10.45"}},
  };
  // clang-format on
  for (const IdentifyCase& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeStage s;
    c.Setup(s.Fake);
    s.Out.OutputEnabled = !c.Quiet;
    HostIdentity identity;
    const Verdict verdict = IdentifyHost(s.Env, c.HostText, identity);
    EXPECT_EQ(s.Fake.Output, c.Output);
    EXPECT_EQ(verdict.EndsRun, c.EndsRun);
    EXPECT_EQ(verdict.Code, c.Code);
    EXPECT_EQ(identity.HostName, c.Expected.HostName);
    EXPECT_EQ(identity.NetBiosName, c.Expected.NetBiosName);
    EXPECT_EQ(identity.AddressText, c.Expected.AddressText);
    EXPECT_EQ(identity.DottedAddress, c.Expected.DottedAddress);
    EXPECT_EQ(identity.GivenAsAddress, c.Expected.GivenAsAddress);
    EXPECT_EQ(s.Fake.Calls, c.Calls);
    EXPECT_TRUE(s.Fake.Titles.empty());
    EXPECT_EQ(s.Fake.Unreleased(), "");
  }
}

TEST(HostIdentityTest, MalformedAddressesEndWithTheFormatErrorEvenWhenQuiet) {
  for (const char* text : {"192.300.1.1", "123.4", "1-2-3", "123.4.5.6.7", "1.2.3.4.", "999"}) {
    SCOPED_TRACE(text);
    FakeStage s;
    s.Out.OutputEnabled = false;
    HostIdentity identity;
    const Verdict verdict = IdentifyHost(s.Env, text, identity);
    EXPECT_EQ(s.Fake.Output, "ERROR: /M: Invalid IP Address. Please check format.\r\n");
    EXPECT_TRUE(verdict.EndsRun);
    EXPECT_EQ(verdict.Code, 99);
    EXPECT_TRUE(s.Fake.Calls.empty());
  }
}

TEST(EchoProbeTest, StatusTextTable) {
  const struct {
    int Status;
    const char* Text;
  } cases[] = {
      {0, "Success"},
      {-1, "Bad IP format"},
      {11001, "Buffer too small"},
      {11010, "Req timed out"},
      {11023, "Addr added"},
      {11024, "Unknown Err 11024"},
      {11049, "Unknown Err 11049"},
      {11050, "General failure"},
      {11051, "Unknown Err 11051"},
      {11255, "Pending"},
      {3000, "Ping timeout"},
      {-5, "Unknown Err -5"},
  };
  for (const auto& c : cases) EXPECT_EQ(IcmpStatusText(c.Status), c.Text) << c.Status;
}

TEST(EchoProbeTest, OneAttemptFillsTheResult) {
  // clang-format off
  const struct {
    const char* Name;
    std::string HostText;
    Script Setup;
    int Status;
    std::string StatusText;
    unsigned RoundTripTime;
    std::vector<Ipv4Address> Destinations;
  } cases[] = {
      {"answered", "192.168.10.42", [](FakePlatform& f) { f.EchoStatuses = {0}; }, 0,
       "Success                 ", 1, {{192, 168, 10, 42}}},
      {"timed out", "192.168.10.42", Unchanged, 11010, "Req timed out           ", 0,
       {{192, 168, 10, 42}}},
      {"a name is resolved first", "PC042.SALES.LAN", [](FakePlatform& f) { f.EchoStatuses = {0}; },
       0, "Success                 ", 1, {{192, 168, 10, 42}}},
      {"an unresolvable name sends nothing", "NOSUCH", Unchanged, -1, "DNS Resolution Failure  ",
       77, {}},
      {"the broadcast text takes the name route and fails", "255.255.255.255", Unchanged, -1,
       "DNS Resolution Failure  ", 77, {}},
      {"no echo handle is a general failure", "192.168.10.42",
       [](FakePlatform& f) { f.EchoHandleUnavailable = true; }, 11050, "General failure         ", 77,
       {}},
      {"an unknown status keeps its number", "192.168.10.42",
       [](FakePlatform& f) { f.EchoStatuses = {11024}; }, 11024, "Unknown Err 11024       ", 0,
       {{192, 168, 10, 42}}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeStage s;
    c.Setup(s.Fake);
    PingResult result;
    result.RoundTripTime = 77;
    ProbeHost(s.Env, c.HostText, EchoTimeoutMs, result);
    EXPECT_EQ(result.Status, c.Status);
    EXPECT_EQ(result.StatusText, c.StatusText);
    EXPECT_EQ(result.StatusText.size(), 24u);
    EXPECT_EQ(result.RoundTripTime, c.RoundTripTime);
    EXPECT_EQ(s.Fake.EchoDestinations, c.Destinations);
    EXPECT_EQ(s.Fake.Output, "");
    EXPECT_EQ(s.Fake.Unreleased(), "");
  }
}

TEST(EchoProbeTest, ReachabilityWithItsOneRetry) {
  // clang-format off
  const struct {
    const char* Name;
    bool PingFirst;
    bool Verbose;
    bool Quiet;
    Script Setup;
    std::string Output;
    bool EndsRun;
    int Attempts;
  } cases[] = {
      {"without /P nothing is sent", false, true, false, Unchanged, "", false, 0},
      {"answered at once", true, true, false, [](FakePlatform& f) { f.EchoStatuses = {0}; },
       " + Host UP. Successfully pinged: 192.168.10.42\r\n", false, 1},
      {"second knock, verbose", true, true, false,
       [](FakePlatform& f) { f.EchoStatuses = {11010, 0}; },
       " ! Second knock...\r\n + Host UP. Successfully pinged: 192.168.10.42\r\n", false, 2},
      {"second knock, not verbose", true, false, false,
       [](FakePlatform& f) { f.EchoStatuses = {11003, 0}; },
       " + Host UP. Successfully pinged: 192.168.10.42\r\n", false, 2},
      {"down", true, false, false, Unchanged, " - Host DOWN. Could not ping: 192.168.10.42\r\n", true,
       2},
      {"down, verbose", true, true, false, Unchanged,
       " ! Second knock...\r\n - Host DOWN. Could not ping: 192.168.10.42\r\n", true, 2},
      {"down, quiet", true, false, true, Unchanged, "", true, 2},
      {"no echo handle never reads as an answer", true, false, false,
       [](FakePlatform& f) { f.EchoHandleUnavailable = true; },
       " - Host DOWN. Could not ping: 192.168.10.42\r\n", true, 0},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeStage s;
    c.Setup(s.Fake);
    s.Out.OutputEnabled = !c.Quiet;
    RunSettings settings;
    settings.PingFirst = c.PingFirst;
    settings.Verbose = c.Verbose;
    HostIdentity identity{"PC042.SALES.LAN", "PC042", "192.168.10.42", "192.168.10.42", false};
    const Verdict verdict = CheckReachability(s.Env, settings, identity);
    EXPECT_EQ(s.Fake.Output, c.Output);
    EXPECT_EQ(verdict.EndsRun, c.EndsRun);
    EXPECT_EQ(verdict.Code, c.EndsRun ? 1 : 0);
    EXPECT_EQ(static_cast<int>(s.Fake.EchoDestinations.size()), c.Attempts);
    EXPECT_TRUE(s.Fake.Sleeps.empty());
    EXPECT_EQ(s.Fake.Unreleased(), "");
  }
}

}  // namespace
}  // namespace quorvex
