#include "platform/posix/samba/samba_abi.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

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
  EXPECT_EQ(smb->Files().LastFailure(), 53U);
  SmbConnectionFacts facts = smb->Files().ConnectionFacts("\\\\127.0.0.1");
  EXPECT_EQ(facts.Dialect, 0);
  EXPECT_EQ(facts.SigningRequired, std::nullopt);

  // Each host administration call fails as for a host out of reach, naming
  // the Win32 call it stands for.
  HostAdminService& admin = smb->Admin();
  const std::string host = "\\\\127.0.0.1";
  std::int64_t hostMs = 0;
  std::int64_t localMs = 0;
  std::vector<ServiceInfo> services;
  ServiceInfo service;
  std::vector<AccountInfo> accounts{{"S-1-5-32-544", "", "", 0}};
  std::string sid;
  std::string dns;
  const struct {
    CallStatus Status;
    const char* Call;
  } calls[] = {
      {admin.RemoteClock(host, hostMs, localMs), "NetRemoteTOD"},
      {admin.ListServices(host, services), "OpenSCManagerW"},
      {admin.QueryService(host, "RemoteRegistry", service), "OpenSCManagerW"},
      {admin.LocalAdministrators(host, accounts), "NetLocalGroupGetMembers"},
      {admin.LookupSids(host, accounts), "LsaLookupSids"},
      {admin.HostDomains(host, sid, dns), "LsaQueryInformationPolicy"},
  };
  for (const auto& c : calls) {
    EXPECT_EQ(c.Status.Status, 53U) << c.Call;
    EXPECT_EQ(c.Status.Call, c.Call);
  }
}

// Values beside the five SMB2 and SMB3 rows (which tests/suites/sweep.sh
// proves against smbd) name no dialect: the SMB1 protocols, none, the
// default, and whatever a later Samba may add.
TEST(SambaAbi, ProtocolsBesideTheProvenRowsNameNoDialect) {
  for (int protocol : {-1, 0, 1, 5, 11, 12, 0x0311}) EXPECT_EQ(DialectOfProtocol(protocol), 0) << protocol;
  for (int protocol = 6; protocol <= 10; ++protocol) EXPECT_NE(DialectOfProtocol(protocol), 0) << protocol;
}

}  // namespace
}  // namespace quorvex::samba
