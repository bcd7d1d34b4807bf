#include "fake_platform.h"

#include <cstring>

namespace quorvex {

namespace {

std::string DottedText(const Ipv4Address& address) {
  std::string text;
  for (std::size_t i = 0; i < address.size(); ++i) {
    if (i > 0) text += '.';
    text += std::to_string(address[i]);
  }
  return text;
}

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// inet_addr for four-part dotted text: a field with a leading zero is octal,
// as the real call reads it. Shorter forms and hex are left out; the checks
// never hand them over.
std::optional<Ipv4Address> ParseQuad(const std::string& text) {
  Ipv4Address address{};
  std::size_t field = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find('.', start);
    const std::string part = text.substr(start, end == std::string::npos ? end : end - start);
    if (field >= 4 || part.empty() || part.size() > 4) return std::nullopt;
    const bool octal = part.size() > 1 && part[0] == '0';
    unsigned value = 0;
    for (char c : part) {
      if (c < '0' || c > (octal ? '7' : '9')) return std::nullopt;
      value = value * (octal ? 8 : 10) + static_cast<unsigned>(c - '0');
    }
    if (value > 255) return std::nullopt;
    address[field++] = static_cast<std::uint8_t>(value);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (field != 4) return std::nullopt;
  return address;
}

void CountRelease(FakePlatform& fake, FakePlatform::Counter& counter, const std::string& what, const char* call) {
  ++counter.Released;
  fake.Releases.push_back(what);
  fake.Calls.push_back(call);
}

class FakeEchoHandle : public EchoHandle {
 public:
  explicit FakeEchoHandle(FakePlatform& fake) : fake_(fake) { ++fake_.EchoHandles.HandedOut; }
  ~FakeEchoHandle() override { CountRelease(fake_, fake_.EchoHandles, "echo handle", "IcmpCloseHandle"); }

  EchoReply SendEcho(const Ipv4Address& destination, std::uint32_t) override {
    fake_.Calls.push_back("IcmpSendEcho " + DottedText(destination));
    fake_.EchoDestinations.push_back(destination);
    std::int32_t status = 11010;
    if (!fake_.EchoStatuses.empty()) {
      status = fake_.EchoStatuses.front();
      fake_.EchoStatuses.pop_front();
    }
    EchoReply reply;
    reply.Status = status;
    if (status == 0) reply.RoundTripTime = fake_.EchoRoundTripTime;
    return reply;
  }

 private:
  FakePlatform& fake_;
};

// A record whose pointer the caller overwrote without freeing it is orphaned:
// it no longer counts as released, which is how a missing release shows up.
class FakeWorkstationRecord : public WorkstationRecord {
 public:
  explicit FakeWorkstationRecord(FakePlatform& fake)
      : fake_(fake), computerName_(fake.ComputerName), lanGroup_(fake.LanGroup) {
    ++fake_.WorkstationRecords.HandedOut;
    Info.ComputerName = computerName_ ? computerName_->c_str() : nullptr;
    Info.LanGroup = lanGroup_ ? lanGroup_->c_str() : nullptr;
    Info.VerMajor = fake.VerMajor;
    Info.VerMinor = fake.VerMinor;
    Info.LoggedOnUsers = fake.LoggedOnUsers;
  }
  ~FakeWorkstationRecord() override {
    if (!Orphaned) CountRelease(fake_, fake_.WorkstationRecords, "workstation record", "NetApiBufferFree");
  }
  bool Orphaned = false;

 private:
  FakePlatform& fake_;
  std::optional<std::u16string> computerName_;
  std::optional<std::u16string> lanGroup_;
};

class FakeServerRecord : public ServerRecord {
 public:
  explicit FakeServerRecord(FakePlatform& fake) : fake_(fake), comment_(fake.Comment) {
    ++fake_.ServerRecords.HandedOut;
    Info.Type = fake.ServerType;
    Info.Comment = comment_ ? comment_->c_str() : nullptr;
    Info.Hidden = fake.Hidden;
  }
  ~FakeServerRecord() override {
    if (!Orphaned) CountRelease(fake_, fake_.ServerRecords, "server record", "NetApiBufferFree");
  }
  bool Orphaned = false;

 private:
  FakePlatform& fake_;
  std::optional<std::u16string> comment_;
};

class FakeFindHandle : public FindHandle {
 public:
  explicit FakeFindHandle(FakePlatform& fake) : fake_(fake) { ++fake_.FindHandles.HandedOut; }
  ~FakeFindHandle() override { CountRelease(fake_, fake_.FindHandles, "find handle", "FindClose"); }

 private:
  FakePlatform& fake_;
};

class FakeRegistryKey : public RegistryKey {
 public:
  // path is empty for the root key of a connection.
  FakeRegistryKey(FakePlatform& fake, std::string machine, std::string path)
      : fake_(fake), machine_(std::move(machine)), path_(std::move(path)) {
    ++fake_.RegistryKeys.HandedOut;
  }
  ~FakeRegistryKey() override {
    CountRelease(fake_, fake_.RegistryKeys, "registry key " + (path_.empty() ? machine_ : path_), "RegCloseKey");
  }

  std::int32_t OpenKey(const std::string& path, std::unique_ptr<RegistryKey>& subKey) override {
    fake_.Calls.push_back("RegOpenKeyExA " + path);
    const std::string full = path_.empty() ? path : path_ + "\\" + path;
    const auto found = fake_.KeyOpenStatus.find(full);
    const std::int32_t status = found == fake_.KeyOpenStatus.end() ? FakePlatform::ErrorFileNotFound : found->second;
    if (status == 0) subKey = std::make_unique<FakeRegistryKey>(fake_, machine_, full);
    return status;
  }

  std::int32_t QueryValue(const std::string& valueName, std::uint32_t& type, std::uint8_t* buffer,
                          std::uint32_t& size) override {
    fake_.Calls.push_back("RegQueryValueExA " + valueName);
    const auto found = fake_.RegistryValues.find({path_, valueName});
    if (found == fake_.RegistryValues.end()) return FakePlatform::ErrorFileNotFound;
    const std::string& bytes = found->second;
    if (bytes.size() > size) {
      size = static_cast<std::uint32_t>(bytes.size());
      return FakePlatform::ErrorMoreData;
    }
    if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
    size = static_cast<std::uint32_t>(bytes.size());
    const auto typed = fake_.RegistryTypes.find({path_, valueName});
    type = typed != fake_.RegistryTypes.end() ? typed->second : 1;  // REG_SZ unless told
    return 0;
  }

  // The subkeys are the keys of KeyOpenStatus one level below this one.
  std::int32_t EnumKey(std::uint32_t index, std::string& name) override {
    fake_.Calls.push_back("RegEnumKeyExA " + std::to_string(index));
    if (const auto failed = fake_.KeyEnumStatus.find(path_); failed != fake_.KeyEnumStatus.end()) return failed->second;
    const std::string prefix = path_.empty() ? "" : path_ + "\\";
    std::uint32_t seen = 0;
    for (const auto& [key, status] : fake_.KeyOpenStatus) {
      if (key.compare(0, prefix.size(), prefix) != 0 || key.size() == prefix.size()) continue;
      const std::string child = key.substr(prefix.size());
      if (child.find('\\') != std::string::npos) continue;
      if (seen++ == index) {
        name = child;
        return 0;
      }
    }
    return FakePlatform::ErrorNoMoreItems;
  }

 private:
  FakePlatform& fake_;
  std::string machine_;
  std::string path_;
};

}  // namespace

struct FakePlatform::ServiceSet : ConsoleService,
                                  LookupService,
                                  EchoService,
                                  NetManagementService,
                                  UncFileService,
                                  RegistryService,
                                  HostAdminService {
  explicit ServiceSet(FakePlatform& owner) : fake(owner), platform{*this, *this, *this, *this, *this, *this, *this} {}

  // Host administration
  CallStatus RemoteClock(const std::string& server, std::int64_t& hostMs, std::int64_t& localMs) override {
    fake.Calls.push_back("NetRemoteTOD " + server);
    hostMs = fake.HostClockMs;
    localMs = fake.LocalClockMs;
    return fake.ClockStatus;
  }
  void PrepareMoveFacts(const std::string& server) override {
    fake.Calls.push_back("prepare " + server);
  }
  CallStatus ListServices(const std::string& server, std::vector<ServiceInfo>& services) override {
    fake.Calls.push_back("EnumServicesStatusExW " + server);
    if (fake.ServicesStatus) services = fake.HostServices;
    return fake.ServicesStatus;
  }
  CallStatus QueryService(const std::string& server, const std::string& name, ServiceInfo& service) override {
    fake.Calls.push_back("QueryServiceConfigW " + server + " " + name);
    if (!fake.ServiceQueryStatus) return fake.ServiceQueryStatus;
    for (const ServiceInfo& known : fake.HostServices) {
      if (known.Name == name) {
        service = known;
        return {};
      }
    }
    return {1060, "OpenServiceW"};  // ERROR_SERVICE_DOES_NOT_EXIST
  }
  CallStatus LocalAdministrators(const std::string& server, std::vector<AccountInfo>& members) override {
    fake.Calls.push_back("NetLocalGroupGetMembers " + server);
    if (fake.AdministratorsStatus) members = fake.Administrators;
    return fake.AdministratorsStatus;
  }
  CallStatus LookupSids(const std::string& server, std::vector<AccountInfo>& accounts) override {
    fake.Calls.push_back("LsaLookupSids " + server);
    if (!fake.LookupStatus) return fake.LookupStatus;
    for (AccountInfo& account : accounts) {
      const auto found = fake.SidNames.find(account.Sid);
      if (found != fake.SidNames.end()) {
        account.Name = found->second.Name;
        account.Domain = found->second.Domain;
        account.Use = found->second.Use;
      } else {
        account.Use = 8;  // SidTypeUnknown
      }
    }
    return {};
  }
  CallStatus HostDomains(const std::string& server, std::string& accountDomainSid, std::string& dnsDomain) override {
    fake.Calls.push_back("LsaQueryInformationPolicy " + server);
    accountDomainSid = fake.AccountDomainSid;
    dnsDomain = fake.DnsDomain;
    return fake.DomainsStatus;
  }

  ~ServiceSet() override {
    // Orphans were never freed by the caller; drop them without counting.
    for (auto& record : orphanWorkstations) static_cast<FakeWorkstationRecord&>(*record).Orphaned = true;
    for (auto& record : orphanServers) static_cast<FakeServerRecord&>(*record).Orphaned = true;
  }

  // Console
  void WriteOutput(std::string_view bytes) override { fake.Output.append(bytes); }
  void SetTitle(const std::string& title) override { fake.Titles.push_back(title); }
  void Sleep(std::uint32_t milliseconds) override { fake.Sleeps.push_back(milliseconds); }

  // Lookups
  std::optional<Ipv4Address> FirstAddressOf(const std::string& name) override {
    fake.Calls.push_back("gethostbyname " + name);
    for (const auto& [known, address] : fake.AddressOfName) {
      if (UpperAscii(known) == UpperAscii(name)) return address;
    }
    return ParseQuad(name);
  }
  std::optional<std::string> OfficialNameOf(const Ipv4Address& address) override {
    fake.Calls.push_back("gethostbyaddr " + DottedText(address));
    const auto found = fake.NameOfAddress.find(address);
    if (found == fake.NameOfAddress.end()) return std::nullopt;
    return found->second;
  }
  std::string LocalHostName() override {
    fake.Calls.push_back("gethostname");
    return fake.LocalName;
  }
  std::optional<Ipv4Address> InetAddr(const std::string& text) override {
    fake.Calls.push_back("inet_addr " + text);
    const auto address = ParseQuad(text);
    if (address == Ipv4Address{255, 255, 255, 255}) return std::nullopt;
    return address;
  }

  // Echo
  std::unique_ptr<EchoHandle> CreateEchoHandle() override {
    fake.Calls.push_back("IcmpCreateFile");
    if (fake.EchoHandleUnavailable) return nullptr;
    return std::make_unique<FakeEchoHandle>(fake);
  }

  // Network management
  static std::uint32_t NextStatus(std::deque<std::uint32_t>& statuses) {
    if (statuses.empty()) return 0;
    const std::uint32_t status = statuses.front();
    statuses.pop_front();
    return status;
  }
  std::uint32_t GetWorkstationInfo(const std::string& uncServerName,
                                   std::unique_ptr<WorkstationRecord>& record) override {
    fake.Calls.push_back("NetWkstaGetInfo " + uncServerName);
    fake.WorkstationServerNames.push_back(uncServerName);
    const std::uint32_t status = NextStatus(fake.WorkstationStatuses);
    if (status == 0 || fake.FailedCallLeavesRecord) {
      if (record) orphanWorkstations.push_back(std::move(record));
      record = std::make_unique<FakeWorkstationRecord>(fake);
    }
    return status;
  }
  std::uint32_t GetServerInfo(const std::string& uncServerName, std::unique_ptr<ServerRecord>& record) override {
    fake.Calls.push_back("NetServerGetInfo " + uncServerName);
    fake.ServerServerNames.push_back(uncServerName);
    const std::uint32_t status = NextStatus(fake.ServerStatuses);
    if (status == 0 || fake.FailedCallLeavesRecord) {
      if (record) orphanServers.push_back(std::move(record));
      record = std::make_unique<FakeServerRecord>(fake);
    }
    return status;
  }
  std::string WideToAnsiText(std::u16string_view text) override {
    std::string ansi;
    for (char16_t unit : text) ansi += unit < 256 ? static_cast<char>(unit) : '?';
    return ansi;
  }

  // Files
  std::unique_ptr<FindHandle> FindFirst(const std::string& path) override {
    fake.Calls.push_back("FindFirstFileA " + path);
    if (!fake.EveryPathExists && fake.ExistingPaths.count(path) == 0) return nullptr;
    return std::make_unique<FakeFindHandle>(fake);
  }
  std::optional<DiskFreeSpace> QueryDiskFreeSpace(const std::string& rootPath) override {
    fake.Calls.push_back("GetDiskFreeSpaceA " + rootPath);
    return fake.FreeSpace;
  }
  std::uint32_t LastFailure() override { return fake.FileFailureStatus; }
  SmbConnectionFacts ConnectionFacts(const std::string& uncServerName) override {
    fake.Calls.push_back("ConnectionFacts " + uncServerName);
    return fake.Connection;
  }

  // Registry
  std::int32_t ConnectRegistry(const std::string& uncMachineName, std::unique_ptr<RegistryKey>& rootKey) override {
    fake.Calls.push_back("RegConnectRegistryA " + uncMachineName);
    if (fake.ConnectStatus != 0) return fake.ConnectStatus;
    rootKey = std::make_unique<FakeRegistryKey>(fake, uncMachineName, "");
    return 0;
  }

  FakePlatform& fake;
  Platform platform;
  std::vector<std::unique_ptr<WorkstationRecord>> orphanWorkstations;
  std::vector<std::unique_ptr<ServerRecord>> orphanServers;
};

FakePlatform::FakePlatform() : services_(std::make_unique<ServiceSet>(*this)) {
  AddressOfName["PC042.SALES.LAN"] = {192, 168, 10, 42};
  NameOfAddress[{192, 168, 10, 42}] = "pc042.sales.lan";
  LocalName = "adminpc";
  ComputerName = u"PC042";
  LanGroup = u"SALES";
  Comment = u"";
  ServerType = 0x1003;  // workstation, server, NT workstation
  LoggedOnUsers = 1;
  ExistingPaths.insert("\\\\PC042\\admin$\\System32");
  FreeSpace = DiskFreeSpace{8, 512, 1000000, 5000000};  // about 4 GB free
  KeyOpenStatus[ProductKey] = 0;
  KeyOpenStatus[VersionKey] = 0;
  SetRegistryValue(ProductKey, "ProductType", "WinNT");
  SetRegistryValue(VersionKey, "CurrentVersion", "5.1");
}

FakePlatform::~FakePlatform() = default;

Platform& FakePlatform::Services() { return services_->platform; }

void FakePlatform::SetRegistryValue(const std::string& keyPath, const std::string& valueName, const std::string& text) {
  SetRegistryBytes(keyPath, valueName, text + '\0');
}

void FakePlatform::SetRegistryBytes(const std::string& keyPath, const std::string& valueName,
                                    const std::string& bytes) {
  RegistryValues[{keyPath, valueName}] = bytes;
}

void FakePlatform::SetRegistryDword(const std::string& keyPath, const std::string& valueName, std::uint32_t value) {
  std::string bytes;
  for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((value >> shift) & 0xFF);
  RegistryValues[{keyPath, valueName}] = bytes;
  RegistryTypes[{keyPath, valueName}] = 4;  // REG_DWORD
}

void FakePlatform::RemoveRegistryValue(const std::string& keyPath, const std::string& valueName) {
  RegistryValues.erase({keyPath, valueName});
}

std::string FakePlatform::Unreleased() const {
  std::string report;
  const std::pair<const char*, const Counter*> kinds[] = {
      {"echo handles", &EchoHandles},     {"workstation records", &WorkstationRecords},
      {"server records", &ServerRecords}, {"find handles", &FindHandles},
      {"registry keys", &RegistryKeys},
  };
  for (const auto& [name, counter] : kinds) {
    if (counter->HandedOut == counter->Released) continue;
    if (!report.empty()) report += "; ";
    report += std::string(name) + ": " + std::to_string(counter->HandedOut) + " handed out, " +
              std::to_string(counter->Released) + " released";
  }
  return report;
}

}  // namespace quorvex
