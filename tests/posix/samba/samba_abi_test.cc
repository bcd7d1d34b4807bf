#include "platform/posix/samba/samba_abi.h"

#include <gtest/gtest.h>

#include "platform/posix/samba/smb_services.h"

namespace quorvex::samba {
namespace {

TEST(SambaAbi, UsableOnlyForATestedReleaseWithEveryCall) {
  struct Case {
    const char* Version;
    bool Resolved;
    bool Usable;
  } cases[] = {
      {"4.17.12-Debian", true, true},
      {"4.17.0", true, true},
      {"4.17.12-Debian", false, false},
      {"4.18.0", true, false},
      {"4.1.17", true, false},
      {"4.170.1", true, false},
      {"", true, false},
      {"4.17", true, false},
  };
  for (const Case& c : cases) EXPECT_EQ(AbiUsable(c.Version, c.Resolved), c.Usable) << c.Version << " " << c.Resolved;
}

// The forcing lasts for the rest of the process (ctest runs each case in one
// of its own).
TEST(SambaAbi, AnUnusableSambaFailsEveryRemoteCallCleanly) {
  EXPECT_TRUE(SambaUsable()) << "this machine's Samba is a tested release";
  ForceSambaUnusable();
  EXPECT_FALSE(SambaUsable());
  EXPECT_EQ(LoadedSmbCalls(), nullptr);

  std::unique_ptr<SmbServices> smb = OpenSmbServices();
  std::unique_ptr<WorkstationRecord> workstation;
  EXPECT_EQ(smb->Net().GetWorkstationInfo("\\\\127.0.0.1", workstation), 53U);
  EXPECT_EQ(workstation, nullptr);
  std::unique_ptr<ServerRecord> server;
  EXPECT_EQ(smb->Net().GetServerInfo("\\\\127.0.0.1", server), 53U);
  std::unique_ptr<RegistryKey> root;
  EXPECT_EQ(smb->Registry().ConnectRegistry("\\\\127.0.0.1", root), 53);
  EXPECT_EQ(root, nullptr);
  EXPECT_EQ(smb->Files().FindFirst("\\\\127.0.0.1\\admin$\\*"), nullptr);
  EXPECT_FALSE(smb->Files().QueryDiskFreeSpace("\\\\127.0.0.1\\admin$\\").has_value());
}

}  // namespace
}  // namespace quorvex::samba
