// NDR 2.0 (little endian) bodies of the DCE/RPC calls whose interfaces Samba
// ships no public structures for: wkssvc NetWkstaGetInfo, srvsvc NetSrvGetInfo
// and NetRemoteTOD, and winreg OpenHKLM, OpenKey, QueryValue, EnumKey,
// CloseKey; and the service records inside an svcctl enumeration buffer,
// which Samba's generated code hands over as raw bytes. Only the stub bytes
// live here; the transport (binding, pipes, authentication) is elsewhere.
//
// Replies come from a remote host and are untrusted: every decoder checks
// every length against the bytes it was given and answers nullopt for a
// truncated, oversized or malformed reply instead of reading past the end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::samba {

using Bytes = std::vector<std::uint8_t>;
using PolicyHandle = std::array<std::uint8_t, 20>;

inline constexpr std::uint16_t OpNetWkstaGetInfo = 0;  // wkssvc
inline constexpr std::uint16_t OpNetSrvGetInfo = 21;   // srvsvc
inline constexpr std::uint16_t OpNetRemoteTOD = 28;
inline constexpr std::uint16_t OpOpenHKLM = 2;  // winreg
inline constexpr std::uint16_t OpCloseKey = 5;
inline constexpr std::uint16_t OpEnumKey = 9;
inline constexpr std::uint16_t OpOpenKey = 15;
inline constexpr std::uint16_t OpQueryValue = 17;

// A decoded reply: the out values and the WERROR that ends every stub.
// When WError is non-zero the out values may be empty.
template <class T>
struct Reply {
  T Value{};
  std::uint32_t WError = 0;
};

// A null unique pointer decodes as nullopt; a present string holds its
// UTF-16 code units without the terminating NUL.
using OptionalText = std::optional<std::u16string>;

struct WorkstationInfo102 {
  std::uint32_t PlatformId = 0;
  OptionalText ComputerName;
  OptionalText LanGroup;
  std::uint32_t VerMajor = 0;
  std::uint32_t VerMinor = 0;
  OptionalText LanRoot;
  std::uint32_t LoggedOnUsers = 0;
};

struct ServerInfo102 {
  std::uint32_t PlatformId = 0;
  OptionalText Name;
  std::uint32_t VerMajor = 0;
  std::uint32_t VerMinor = 0;
  std::uint32_t Type = 0;
  OptionalText Comment;
  std::uint32_t Users = 0;
  std::uint32_t Disc = 0;
  std::uint32_t Hidden = 0;
  std::uint32_t Announce = 0;
  std::uint32_t AnnDelta = 0;
  std::uint32_t Licenses = 0;
  OptionalText UserPath;
};

struct RegistryValue {
  std::uint32_t Type = 0;
  Bytes Data;  // exactly the value's bytes as the reply's length says
};

// Encoders of requests that carry a text answer an empty stub when the text
// is too long for the 16-bit byte length of a registry string.

// Level 102 with a null server name pointer (the pipe already names the host).
Bytes EncodeNetWkstaGetInfo(std::uint32_t level);
std::optional<Reply<WorkstationInfo102>> DecodeNetWkstaGetInfo(const std::uint8_t* data, std::size_t size);

Bytes EncodeNetSrvGetInfo(std::uint32_t level);
std::optional<Reply<ServerInfo102>> DecodeNetSrvGetInfo(const std::uint8_t* data, std::size_t size);

// Null system name pointer.
Bytes EncodeOpenHKLM(std::uint32_t accessMask);
std::optional<Reply<PolicyHandle>> DecodeOpenHKLM(const std::uint8_t* data, std::size_t size);

Bytes EncodeOpenKey(const PolicyHandle& parent, const std::u16string& path, std::uint32_t accessMask);
std::optional<Reply<PolicyHandle>> DecodeOpenKey(const std::uint8_t* data, std::size_t size);

// Asks for at most bufferSize bytes of the value.
Bytes EncodeQueryValue(const PolicyHandle& key, const std::u16string& valueName, std::uint32_t bufferSize);
std::optional<Reply<RegistryValue>> DecodeQueryValue(const std::uint8_t* data, std::size_t size);

Bytes EncodeCloseKey(const PolicyHandle& key);
std::optional<Reply<PolicyHandle>> DecodeCloseKey(const std::uint8_t* data, std::size_t size);

// The name of the subkey at index, offering the host nameBufferBytes for it
// (and as much for its class, which is not kept). A name comes back without
// its terminating NUL; past the last subkey the WERROR is 259.
Bytes EncodeEnumKey(const PolicyHandle& key, std::uint32_t index, std::uint16_t nameBufferBytes);
std::optional<Reply<std::u16string>> DecodeEnumKey(const std::uint8_t* data, std::size_t size);

// TIME_OF_DAY_INFO as NetRemoteTOD fills it.
struct TimeOfDay {
  std::uint32_t Elapsed = 0;  // seconds since 1970-01-01 UTC
  std::uint32_t Msecs = 0;    // milliseconds since the host started
  std::uint32_t Hours = 0;
  std::uint32_t Mins = 0;
  std::uint32_t Secs = 0;
  std::uint32_t Hunds = 0;
  std::int32_t Timezone = 0;  // minutes west of UTC; -1 when unknown
  std::uint32_t Tinterval = 0;
  std::uint32_t Day = 0;
  std::uint32_t Month = 0;
  std::uint32_t Year = 0;
  std::uint32_t Weekday = 0;
};

// Null server name pointer, as for the information calls.
Bytes EncodeNetRemoteTOD();
std::optional<Reply<TimeOfDay>> DecodeNetRemoteTOD(const std::uint8_t* data, std::size_t size);

// Milliseconds since 1970 of a time of day, to its hundredths.
std::int64_t UnixMsOf(const TimeOfDay& tod);
// Milliseconds since 1970 of a FILETIME (100 ns units since 1601).
std::int64_t UnixMsOfFileTime(std::uint64_t fileTime);

// One record of an svcctl enumeration buffer: ENUM_SERVICE_STATUSW (36
// bytes) or ENUM_SERVICE_STATUS_PROCESSW (44), both two offsets of
// NUL-terminated UTF-16 strings, counted from the start of the buffer,
// followed by the service's status.
enum class ServiceRecordLayout { Status = 36, StatusProcess = 44 };

struct ServiceEntry {
  std::u16string Name;
  std::u16string DisplayName;
  std::uint32_t Type = 0;
  std::uint32_t State = 0;
};

// The first `count` records of the buffer; nullopt when they, or a string
// one of them points to, do not lie wholly inside it.
std::optional<std::vector<ServiceEntry>> DecodeServiceEntries(const std::uint8_t* data, std::size_t size,
                                                              std::uint32_t count, ServiceRecordLayout layout);

}  // namespace quorvex::samba
