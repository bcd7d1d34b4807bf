// The host administration calls and registry key listing of the Linux
// backend, made against a real host and printed as lines, for the real-peer
// suite to compare with what Samba's own tools say of the same host. The
// tool never makes these calls, so they are proved through this program.
//
//   quorvex_admin_probe \\SERVER COMMAND [ARG]... [COMMAND [ARG]...]...
//
//   clock          "clock HOST_MS LOCAL_MS"           RemoteClock
//   tod            "tod HOST_MS LOCAL_MS"             NetRemoteTOD alone
//   prepare        nothing; services, domains and        PrepareMoveFacts
//                  administrators start beside the calls that follow
//   services       "NAME|DISPLAY|ACCOUNT|START|STATE" ListServices, a line each
//   service NAME   the same line for one service      QueryService
//   admins         "SID DOMAIN\NAME (USE)"            LocalAdministrators
//   lookup SID...  the same lines                     LookupSids (takes the rest)
//   domains        "domains SID|DNS"                  HostDomains
//   keys PATH      "key NAME", a line each            EnumKey under HKLM\PATH
//   wait-for FILE  nothing; waits until FILE exists (30 s at most), so that
//                  the suite can change the host between two calls
//
// The commands run in order in one process, so in one SMB session. A call
// that fails prints "failed CALL STATUS" and ends the run with exit code 1.
// Logon from USER and PASSWD, as for the tool.
#include <unistd.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "core/platform.h"
#include "platform/posix/samba/host_admin.h"
#include "platform/posix/samba/session_pool.h"
#include "platform/posix/samba/smb_text.h"

namespace {

using namespace quorvex;

constexpr std::int32_t NoMoreItems = 259;

class Probe {
 public:
  Probe(Platform& services, std::string unc) : services_(services), unc_(std::move(unc)) {}

  void Line(const std::string& cp437) { services_.Console.WriteOutput(cp437 + "\r\n"); }

  bool Report(const CallStatus& status) {
    if (!status) Line("failed " + std::string(status.Call) + " " + std::to_string(status.Status));
    return static_cast<bool>(status);
  }

  bool Clock() {
    std::int64_t hostMs = 0;
    std::int64_t localMs = 0;
    if (!Report(services_.Admin.RemoteClock(unc_, hostMs, localMs))) return false;
    Line("clock " + std::to_string(hostMs) + " " + std::to_string(localMs));
    return true;
  }

  // The backend's NetRemoteTOD on a pool of its own, which the seam only
  // reaches when a host's NEGOTIATE response carries no time.
  bool TimeOfDay() {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const char* login = std::getenv("LOGNAME");
    std::unique_ptr<samba::SessionPool> pool = samba::SessionPool::Open(
        samba::ParseLogon(std::getenv("USER"), std::getenv("PASSWD"), login != nullptr ? login : ""),
        samba::WorkstationNameOf(host));
    std::optional<std::string> server = samba::ServerNameOf(unc_);
    if (!pool || !server) return Report({53, "NetRemoteTOD"});
    std::int64_t hostMs = 0;
    std::int64_t localMs = 0;
    if (!Report(samba::RemoteTimeOfDay(*pool, *server, hostMs, localMs))) return false;
    Line("tod " + std::to_string(hostMs) + " " + std::to_string(localMs));
    return true;
  }

  void Service(const ServiceInfo& s) {
    Line(s.Name + "|" + s.DisplayName + "|" + s.Account + "|" + std::to_string(s.StartType) + "|" +
         std::to_string(s.State));
  }

  bool Services() {
    std::vector<ServiceInfo> list;
    if (!Report(services_.Admin.ListServices(unc_, list))) return false;
    for (const ServiceInfo& s : list) Service(s);
    return true;
  }

  bool OneService(const std::string& name) {
    ServiceInfo info;
    if (!Report(services_.Admin.QueryService(unc_, name, info))) return false;
    Service(info);
    return true;
  }

  void Accounts(const std::vector<AccountInfo>& accounts) {
    for (const AccountInfo& a : accounts)
      Line(a.Sid + " " + a.Domain + "\\" + a.Name + " (" + std::to_string(a.Use) + ")");
  }

  bool Admins() {
    std::vector<AccountInfo> members;
    if (!Report(services_.Admin.LocalAdministrators(unc_, members))) return false;
    Accounts(members);
    return true;
  }

  bool Lookup(const std::vector<std::string>& sids) {
    std::vector<AccountInfo> accounts;
    for (const std::string& sid : sids) accounts.push_back({sid, "", "", 0});
    if (!Report(services_.Admin.LookupSids(unc_, accounts))) return false;
    Accounts(accounts);
    return true;
  }

  bool Domains() {
    std::string sid;
    std::string dns;
    if (!Report(services_.Admin.HostDomains(unc_, sid, dns))) return false;
    Line("domains " + sid + "|" + dns);
    return true;
  }

  bool Keys(const std::string& path) {
    std::unique_ptr<RegistryKey> root;
    std::unique_ptr<RegistryKey> key;
    if (!Report({static_cast<std::uint32_t>(services_.Registry.ConnectRegistry(unc_, root)), "RegConnectRegistryA"}) ||
        !Report({static_cast<std::uint32_t>(root->OpenKey(path, key)), "RegOpenKeyExA"})) {
      return false;
    }
    for (std::uint32_t index = 0;; ++index) {
      std::string name;
      std::int32_t status = key->EnumKey(index, name);
      if (status == NoMoreItems) return true;
      if (!Report({static_cast<std::uint32_t>(status), "RegEnumKeyExA"})) return false;
      Line("key " + name);
    }
  }

 private:
  Platform& services_;
  std::string unc_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: quorvex_admin_probe \\\\SERVER COMMAND [ARG]...\n", stderr);
    return 2;
  }
  std::unique_ptr<SystemPlatform> system = OpenSystemPlatform(argc, argv);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8ToCp437(argv[i]));
  Probe probe(system->Services(), args[0]);
  for (std::size_t i = 1; i < args.size();) {
    const std::string& command = args[i++];
    bool ok = false;
    if (command == "clock") {
      ok = probe.Clock();
    } else if (command == "tod") {
      ok = probe.TimeOfDay();
    } else if (command == "prepare") {
      system->Services().Admin.PrepareMoveFacts(args[0]);
      ok = true;
    } else if (command == "services") {
      ok = probe.Services();
    } else if (command == "service" && i < args.size()) {
      ok = probe.OneService(args[i++]);
    } else if (command == "admins") {
      ok = probe.Admins();
    } else if (command == "lookup") {
      ok = probe.Lookup({args.begin() + static_cast<std::ptrdiff_t>(i), args.end()});
      i = args.size();
    } else if (command == "domains") {
      ok = probe.Domains();
    } else if (command == "keys" && i < args.size()) {
      ok = probe.Keys(args[i++]);
    } else if (command == "wait-for" && i < args.size()) {
      const std::string file = Cp437ToUtf8(args[i++]);
      struct stat seen {};
      for (int tries = 0; tries < 600 && stat(file.c_str(), &seen) != 0; ++tries) usleep(50000);
      ok = true;
    } else {
      probe.Line("unknown command " + command);
    }
    if (!ok) return 1;
  }
  return 0;
}
