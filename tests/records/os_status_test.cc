// The OS family from the registry values each Windows release really holds,
// and the names of the statuses a failed call returns.
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "records/os_family.h"
#include "records/status_names.h"

namespace quorvex::records {
namespace {

using Text = std::optional<std::string>;
using Number = std::optional<std::uint32_t>;

TEST(OsFamilyTest, NamesEachReleaseFromItsRegistryValues) {
  struct Case {
    Text CurrentVersion;
    Number Major;
    Text Build;
    Text DisplayVersion;  // or ReleaseId
    Text ProductName;
    Text InstallationType;
    Text ProductType;
    Text Expected;
  };
  const std::nullopt_t _ = std::nullopt;
  const Case cases[] = {
      {"5.0", _, "2195", _, "Microsoft Windows 2000", _, "WinNT", "Windows 2000"},
      {"5.0", _, "2195", _, "Microsoft Windows 2000", _, "LanmanNT", "Windows 2000 Server"},
      {"5.1", _, "2600", _, "Microsoft Windows XP", _, "WinNT", "Windows XP"},
      {"5.2", _, "3790", _, "Microsoft Windows XP", _, "WinNT", "Windows XP x64"},
      {"5.2", _, "3790", _, "Microsoft Windows Server 2003", _, "ServerNT", "Windows Server 2003"},
      {"5.2", _, "3790", _, "Microsoft Windows Server 2003 R2", _, "ServerNT", "Windows Server 2003 R2"},
      {"6.0", _, "6002", _, "Windows Vista (TM) Business", _, "WinNT", "Windows Vista"},
      {"6.0", _, "6003", _, "Windows Server (R) 2008 Standard", "Server", "LanmanNT", "Windows Server 2008"},
      {"6.1", _, "7601", _, "Windows 7 Professional", "Client", "WinNT", "Windows 7"},
      {"6.1", _, "7601", _, "Windows Server 2008 R2 Standard", "Server Core", "ServerNT", "Windows Server 2008 R2"},
      {"6.2", _, "9200", _, "Windows 8 Pro", "Client", "WinNT", "Windows 8"},
      {"6.2", _, "9200", _, "Windows Server 2012 Standard", "Server", "ServerNT", "Windows Server 2012"},
      {"6.3", _, "9600", _, "Windows 8.1 Pro", "Client", "WinNT", "Windows 8.1"},
      {"6.3", _, "9600", _, "Windows Server 2012 R2 Datacenter", "Server", "LanmanNT", "Windows Server 2012 R2"},
      {"6.3", 10, "10240", _, "Windows 10 Pro", "Client", "WinNT", "Windows 10"},
      {"6.3", 10, "17763", "1809", "Windows 10 Enterprise", "Client", "WinNT", "Windows 10 1809"},
      {"6.3", 10, "19045", "22H2", "Windows 10 Pro", "Client", "WinNT", "Windows 10 22H2"},
      {"6.3", 10, "22000", "21H2", "Windows 10 Pro", "Client", "WinNT", "Windows 11 21H2"},
      {"6.3", 10, "22631", "23H2", "Windows 10 Enterprise", "Client", "WinNT", "Windows 11 23H2"},
      {"6.3", 10, "26100", "24H2", "Windows 10 Pro", "Client", "WinNT", "Windows 11 24H2"},
      {"6.3", 10, "14393", "1607", "Windows Server 2016 Standard", "Server", "ServerNT", "Windows Server 2016"},
      {"6.3", 10, "17763", "1809", "Windows Server 2019 Datacenter", "Server Core", "LanmanNT", "Windows Server 2019"},
      {"6.3", 10, "18363", "1909", "Windows Server Datacenter", "Server Core", "ServerNT", "Windows Server 1909"},
      {"6.3", 10, "20348", "21H2", "Windows Server 2022 Standard", "Server", "ServerNT", "Windows Server 2022"},
      {"6.3", 10, "25398", "23H2", "Windows Server Datacenter", "Server Core", "ServerNT", "Windows Server 23H2"},
      {"6.3", 10, "26100", "24H2", "Windows Server 2025 Datacenter", "Server", "LanmanNT", "Windows Server 2025"},
      // What a host may leave out or get wrong.
      {"6.1", _, _, _, _, _, "WinNT", "Windows 7"},
      {"6.3", 10, "22631", _, _, "Client", "ServerNT", "Windows 11"},
      {"6.3", 10, "22631", "<b>23H2</b>", "Windows 10 Pro", _, "WinNT", "Windows 11"},
      {"6.3", 10, "22631\n", "23H2", "Windows 10 Pro", _, "WinNT", "Windows 10 23H2"},
      {"6.3", _, "2263100000", _, "Windows 10 Pro", _, "WinNT", "Windows 8.1"},
      {"6.3", 10, std::string(300, '2'), _, _, _, _, _},
      {_, _, "1057", _, "Windows NT", _, "WinNT", _},
      {_, _, _, _, _, _, _, _},
  };
  for (const Case& c : cases) {
    OsFacts os;
    os.CurrentMajorVersionNumber = c.Major;
    if (c.Major) os.CurrentMinorVersionNumber = 0;
    os.CurrentBuildNumber = c.Build;
    os.DisplayVersion = c.DisplayVersion;
    os.ProductName = c.ProductName;
    os.InstallationType = c.InstallationType;
    EXPECT_EQ(OsFamily(os, c.ProductType, c.CurrentVersion), c.Expected)
        << c.Build.value_or("-") << " " << c.ProductName.value_or("-");
  }
}

TEST(OsFamilyTest, TrustsOnlyShortPrintableRegistryText) {
  EXPECT_EQ(RegistryText("Windows 10 Pro"), "Windows 10 Pro");
  EXPECT_EQ(RegistryText(std::string(MaxRegistryTextBytes, 'a')), std::string(MaxRegistryTextBytes, 'a'));
  EXPECT_EQ(RegistryText(std::string(MaxRegistryTextBytes + 1, 'a')), std::nullopt);
  EXPECT_EQ(RegistryText("Pro\x1b[2J"), std::nullopt);
  EXPECT_EQ(RegistryText(std::string("Pro\0", 4)), std::nullopt);
  EXPECT_EQ(RegistryText("Pr\xF6"), "Pr\xEF\xBF\xBD");
}

TEST(StatusNamesTest, NamesWin32NetworkAndNtStatusCodes) {
  struct Case {
    std::int64_t Status;
    std::string_view Call;
    std::string_view Expected;
  };
  const Case cases[] = {
      {5, "NetWkstaGetInfo", "ERROR_ACCESS_DENIED"},
      {53, "NetServerGetInfo", "ERROR_BAD_NETPATH"},
      {1722, "RegConnectRegistry", "RPC_S_SERVER_UNAVAILABLE"},
      {2310, "NetShareGetInfo", "NERR_NetNameNotFound"},
      {10061, "", "WSAECONNREFUSED"},
      {0xC0000022, "", "STATUS_ACCESS_DENIED"},
      {-1073741790, "", "STATUS_ACCESS_DENIED"},  // the same status, sign-extended
      {0xC00000CC, "", "STATUS_BAD_NETWORK_NAME"},
      {11003, "getaddrinfo", "WSANO_RECOVERY"},
      {11003, "IcmpSendEcho", "IP_DEST_HOST_UNREACHABLE"},
      {11010, "IcmpSendEcho", "IP_REQ_TIMED_OUT"},
      {0, "", ""},
      {999999, "", ""},
      {0x1C0000022, "", ""},
      {-0x80000001LL, "", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(StatusName(c.Status, c.Call), c.Expected) << c.Status;
}

}  // namespace
}  // namespace quorvex::records
