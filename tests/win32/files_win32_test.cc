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

}  // namespace
}  // namespace quorvex::win32
