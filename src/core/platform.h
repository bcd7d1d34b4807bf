// The services the checks need from the operating system, and nothing more.
//
// Each operation answers exactly what a stage relies on: a status, a handle, a
// record, a byte count. Everything that owns an OS resource (an echo handle, a
// find handle, a registry key, a network management record) is a small object
// whose destructor releases it, so a stage can never forget or repeat the
// release; the test fake counts those destructors to prove it.
//
// All text crossing this seam is 8-bit ANSI bytes, except the UTF-16 strings
// inside network management records, which the core turns into ANSI text
// through NetManagementService::WideToAnsiText. Names here avoid the Win32 API
// names on purpose: <windows.h> turns many of them into macros.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex {

// Four bytes in network order: Bytes[0] belongs to the first dotted field.
using Ipv4Address = std::array<std::uint8_t, 4>;

class ConsoleService {
 public:
  virtual ~ConsoleService() = default;
  // Writes the bytes to standard output as they are (no newline translation).
  virtual void WriteOutput(std::string_view bytes) = 0;
  // Replaces the console window title; never writes to standard output.
  virtual void SetTitle(const std::string& title) = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

class LookupService {
 public:
  virtual ~LookupService() = default;
  // First IPv4 address of the name; nullopt when the library does not start,
  // there is no entry, or the entry has no address.
  virtual std::optional<Ipv4Address> FirstAddressOf(const std::string& name) = 0;
  // Official name of the address; nullopt when the library does not start or
  // there is no entry.
  virtual std::optional<std::string> OfficialNameOf(const Ipv4Address& address) = 0;
  // This computer's own host name; empty when it cannot be had.
  virtual std::string LocalHostName() = 0;
  // The platform's inet_addr: nullopt stands for INADDR_NONE, which is also
  // what 255.255.255.255 gives.
  virtual std::optional<Ipv4Address> InetAddr(const std::string& text) = 0;
};

// What one echo attempt left in the first reply record.
struct EchoReply {
  std::int32_t Status = 0;  // 0, or an IP_* status value (11001..11255)
  std::uint32_t RoundTripTime = 0;
};

class EchoHandle {
 public:
  virtual ~EchoHandle() = default;  // IcmpCloseHandle
  // One echo request with no payload, TTL 255, waiting at most timeoutMs.
  virtual EchoReply SendEcho(const Ipv4Address& destination, std::uint32_t timeoutMs) = 0;
};

class EchoService {
 public:
  virtual ~EchoService() = default;
  // IcmpCreateFile; null when no handle can be had.
  virtual std::unique_ptr<EchoHandle> CreateEchoHandle() = 0;
};

// Views of WKSTA_INFO_102 and SERVER_INFO_102: the fields the checks read.
// String pointers may be null and point into memory the record owns.
struct WorkstationInfo {
  const char16_t* ComputerName = nullptr;
  const char16_t* LanGroup = nullptr;
  std::uint32_t VerMajor = 0;
  std::uint32_t VerMinor = 0;
  std::uint32_t LoggedOnUsers = 0;
};

struct ServerInfo {
  std::uint32_t Type = 0;
  const char16_t* Comment = nullptr;
  std::uint32_t Hidden = 0;
};

// A record the network API allocated; the destructor is NetApiBufferFree.
class WorkstationRecord {
 public:
  virtual ~WorkstationRecord() = default;
  WorkstationInfo Info;
};

class ServerRecord {
 public:
  virtual ~ServerRecord() = default;
  ServerInfo Info;
};

class NetManagementService {
 public:
  virtual ~NetManagementService() = default;
  // NetWkstaGetInfo / NetServerGetInfo at level 102. The server name is ANSI
  // text beginning with "\\". Returns 0 (NERR_Success) or a failure status;
  // a record may be left behind even on failure.
  virtual std::uint32_t GetWorkstationInfo(const std::string& uncServerName,
                                           std::unique_ptr<WorkstationRecord>& record) = 0;
  virtual std::uint32_t GetServerInfo(const std::string& uncServerName, std::unique_ptr<ServerRecord>& record) = 0;
  // WideCharToMultiByte(CP_ACP) of exactly these code units.
  virtual std::string WideToAnsiText(std::u16string_view text) = 0;
};

class FindHandle {
 public:
  virtual ~FindHandle() = default;  // FindClose
};

// The four counters GetDiskFreeSpaceA reports.
struct DiskFreeSpace {
  std::uint64_t SectorsPerCluster = 0;
  std::uint64_t BytesPerSector = 0;
  std::uint64_t FreeClusters = 0;
  std::uint64_t TotalClusters = 0;
};

// What the SMB connection to a server negotiated.
struct SmbConnectionFacts {
  // The dialect's revision code as SMB2 NEGOTIATE carries it (0x0202, 0x0210,
  // 0x0300, 0x0302, 0x0311); 0 when the backend cannot tell.
  std::uint16_t Dialect = 0;
  // Whether the server's NEGOTIATE response required signing.
  std::optional<bool> SigningRequired;
};

class UncFileService {
 public:
  virtual ~UncFileService() = default;
  // FindFirstFileA; null stands for INVALID_HANDLE_VALUE.
  virtual std::unique_ptr<FindHandle> FindFirst(const std::string& path) = 0;
  // GetDiskFreeSpaceA with critical-error dialogs suppressed for the call;
  // nullopt when the call fails.
  virtual std::optional<DiskFreeSpace> QueryDiskFreeSpace(const std::string& rootPath) = 0;
  // GetLastError after the last of the two calls above that failed; 0 where
  // the backend cannot tell.
  virtual std::uint32_t LastFailure() { return 0; }
  // The facts of the connection that carries this process's calls to the
  // server named ("\\\\NAME"), as far as the backend knows them. Asked after
  // the calls and only of a host that answered them, since a backend may open
  // a file on the server's admin$ to learn them.
  virtual SmbConnectionFacts ConnectionFacts(const std::string& /*uncServerName*/) { return {}; }
};

class RegistryKey {
 public:
  virtual ~RegistryKey() = default;  // RegCloseKey
  // RegOpenKeyExA(this, path, 0, KEY_READ). Returns 0 and sets subKey, or a
  // non-zero status and leaves subKey null.
  virtual std::int32_t OpenKey(const std::string& path, std::unique_ptr<RegistryKey>& subKey) = 0;
  // RegQueryValueExA. On success writes at most `size` bytes into buffer and
  // sets size and type; on failure leaves the buffer untouched.
  virtual std::int32_t QueryValue(const std::string& valueName, std::uint32_t& type, std::uint8_t* buffer,
                                  std::uint32_t& size) = 0;
  // RegEnumKeyExA: the name of the subkey at index, 0; ERROR_NO_MORE_ITEMS
  // (259) past the last one; another status when the key cannot be listed.
  virtual std::int32_t EnumKey(std::uint32_t index, std::string& name) = 0;
};

class RegistryService {
 public:
  virtual ~RegistryService() = default;
  // RegConnectRegistryA(uncMachineName, HKEY_LOCAL_MACHINE). Returns 0
  // (ERROR_SUCCESS) and sets rootKey, or a non-zero status.
  virtual std::int32_t ConnectRegistry(const std::string& uncMachineName, std::unique_ptr<RegistryKey>& rootKey) = 0;
};

// A service as the host's service control manager describes it.
struct ServiceInfo {
  std::string Name;  // the key name ("RemoteRegistry")
  std::string DisplayName;
  std::string Account;          // the logon account (lpServiceStartName); "" for a driver
  std::uint32_t StartType = 0;  // SERVICE_BOOT_START (0) .. SERVICE_DISABLED (4)
  std::uint32_t State = 0;      // SERVICE_STOPPED (1) .. SERVICE_PAUSED (7)
};

// An account's SID and what the host translates it to.
struct AccountInfo {
  std::string Sid;  // "S-1-5-21-..."
  std::string Name;
  std::string Domain;
  std::uint32_t Use = 0;  // SID_NAME_USE: SidTypeUser (1) .. SidTypeComputer (9); 0 untranslated
};

// How a call of the host administration service ended: 0, or the status of
// the Win32 call (by its name) that failed.
struct CallStatus {
  std::uint32_t Status = 0;
  std::string_view Call;
  explicit operator bool() const { return Status == 0; }
};

// What a move to another domain needs to know of a host beyond the checks.
// Every call is bounded like the network management calls.
class HostAdminService {
 public:
  virtual ~HostAdminService() = default;
  // The host's clock and ours at one instant, in milliseconds since 1970
  // (NetRemoteTOD, or a time the connection already carried).
  virtual CallStatus RemoteClock(const std::string& uncServerName, std::int64_t& hostMs, std::int64_t& localMs) = 0;
  // Says the calls below will be made of the host: a backend that can ask
  // while other calls go on over the same connection starts the longer ones
  // now. Each call answers as it would have without.
  virtual void PrepareMoveFacts(const std::string& /*uncServerName*/) {}
  // Every Win32 service of the host, with its configuration
  // (OpenSCManagerW, EnumServicesStatusExW, QueryServiceConfigW).
  virtual CallStatus ListServices(const std::string& uncServerName, std::vector<ServiceInfo>& services) = 0;
  // One service by its key name (OpenServiceW, QueryServiceConfigW,
  // QueryServiceStatus).
  virtual CallStatus QueryService(const std::string& uncServerName, const std::string& name, ServiceInfo& service) = 0;
  // The members of BUILTIN\Administrators (S-1-5-32-544), translated as far as
  // the host can (NetLocalGroupGetMembers at level 2).
  virtual CallStatus LocalAdministrators(const std::string& uncServerName, std::vector<AccountInfo>& members) = 0;
  // Fills Name, Domain and Use of each account from its Sid (LsaLookupSids).
  virtual CallStatus LookupSids(const std::string& uncServerName, std::vector<AccountInfo>& accounts) = 0;
  // The host's own account domain SID and the DNS name of the domain it
  // belongs to, "" when it has none (LsaQueryInformationPolicy).
  virtual CallStatus HostDomains(const std::string& uncServerName, std::string& accountDomainSid,
                                 std::string& dnsDomain) = 0;
};

// Everything a run may call, grouped as the services are.
struct Platform {
  ConsoleService& Console;
  LookupService& Lookup;
  EchoService& Echo;
  NetManagementService& Net;
  UncFileService& Files;
  RegistryService& Registry;
  HostAdminService& Admin;
};

// The running process's platform. The build picks exactly one backend that
// defines OpenSystemPlatform.
class SystemPlatform {
 public:
  virtual ~SystemPlatform() = default;
  // The process command line without the program name.
  virtual std::string CommandText() = 0;
  virtual Platform& Services() = 0;
};

std::unique_ptr<SystemPlatform> OpenSystemPlatform(int argc, char** argv);

}  // namespace quorvex
