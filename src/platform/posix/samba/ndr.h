// NDR 2.0 (little endian) bodies of the six DCE/RPC calls the Linux backend
// makes: wkssvc NetWkstaGetInfo, srvsvc NetSrvGetInfo, and winreg OpenHKLM,
// OpenKey, QueryValue, CloseKey. Only the stub bytes live here; the transport
// (binding, pipes, authentication) is elsewhere.
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
inline constexpr std::uint16_t OpOpenHKLM = 2;         // winreg
inline constexpr std::uint16_t OpCloseKey = 5;
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

}  // namespace quorvex::samba
