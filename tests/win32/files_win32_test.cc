#include <gtest/gtest.h>

#include "platform/win32/win32_backend.h"
#include "win32_test_support.h"

namespace quorvex::win32 {
namespace {

// tests.cmake links $WINEPREFIX/dosdevices/unc/qvxunchost/admin$ to a folder
// holding System32, so this UNC share is served by Wine's own file system
// layer. An unknown host is answered without any network traffic.
constexpr const char* kShare = "\\\\QVXUNCHOST\\admin$\\";

TEST(UncFilesWin32Test, FindFirstOnUncPaths) {
  struct Case {
    std::string path;
    bool found;
  } cases[] = {
      {std::string(kShare) + "System32", true},
      {std::string(kShare) + "system32", true},  // names are case-insensitive
      {std::string(kShare) + "NoSuchFolder", false},
      {"\\\\QVXNOHOST\\admin$\\System32", false},
  };
  std::unique_ptr<UncFileService> files = MakeUncFileService();
  for (const Case& c : cases) EXPECT_EQ(files->FindFirst(c.path) != nullptr, c.found) << c.path;
}

TEST(UncFilesWin32Test, FreeSpaceOfTheShareAndErrorModeRestored) {
  std::unique_ptr<UncFileService> files = MakeUncFileService();
  SetErrorMode(SEM_NOGPFAULTERRORBOX);
  std::optional<DiskFreeSpace> space = files->QueryDiskFreeSpace(kShare);
  std::optional<DiskFreeSpace> missing = files->QueryDiskFreeSpace("\\\\QVXNOHOST\\admin$\\");
  UINT modeAfter = SetErrorMode(0);
  EXPECT_EQ(modeAfter, static_cast<UINT>(SEM_NOGPFAULTERRORBOX));
  ASSERT_TRUE(space.has_value());
  EXPECT_GT(space->SectorsPerCluster * space->BytesPerSector * space->FreeClusters, 0u);
  EXPECT_GE(space->TotalClusters, space->FreeClusters);
  EXPECT_FALSE(missing.has_value());
}

TEST(UncFilesWin32Test, DialectOfTheRemoteProtocolFields) {
  constexpr std::uint32_t Smb = 0x00020000;  // WNNC_NET_SMB
  const struct {
    std::uint32_t Protocol;
    std::uint16_t Major, Minor, Revision;
    std::uint16_t Dialect;
  } cases[] = {
      {Smb, 2, 0, 2, 0x0202}, {Smb, 2, 1, 0, 0x0210},   {Smb, 3, 0, 0, 0x0300}, {Smb, 3, 0, 2, 0x0302},
      {Smb, 3, 1, 1, 0x0311}, {Smb, 1, 0, 0, 0},        {Smb, 3, 16, 1, 0},     {Smb, 3, 1, 16, 0},
      {Smb, 16, 0, 0, 0},     {0x00010000, 3, 1, 1, 0},  // WNNC_NET_MSNET
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DialectOfRemoteProtocol(c.Protocol, c.Major, c.Minor, c.Revision), c.Dialect)
        << c.Major << "." << c.Minor << "." << c.Revision;
  }
}

// Wine serves the test share from its own file system, which is no SMB
// connection, and the unknown host has none: neither has facts to tell.
TEST(UncFilesWin32Test, NoConnectionFactsWithoutAnSmbConnection) {
  std::unique_ptr<UncFileService> files = MakeUncFileService();
  for (const char* server : {"\\\\QVXUNCHOST", "\\\\QVXNOHOST"}) {
    SmbConnectionFacts facts = files->ConnectionFacts(server);
    EXPECT_EQ(facts.Dialect, 0) << server;
    EXPECT_EQ(facts.SigningRequired, std::nullopt) << server;
  }
}

}  // namespace
}  // namespace quorvex::win32
