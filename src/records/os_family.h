// The OS family an administrator names ("Windows 11 23H2", "Windows Server
// 2022", "Windows Server 2012 R2") from the values of the registry key
// HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion and the product type.
//
//   record.Os.ProductName = RegistryText(valueTheHostSent);   // per string value
//   record.Os.Family = OsFamily(record.Os, record.ProductType, record.OsVersion);
//
// CurrentVersion reads 6.3 on every version since Windows 10 and Server 2016,
// and Windows 11 still calls itself "Windows 10" in ProductName, so the build
// number decides (22000 and later is Windows 11); client or server comes from
// InstallationType, then the product type (WinNT is a workstation, ServerNT
// and LanmanNT a server), then ProductName.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "records/host_record.h"

namespace quorvex::records {

// Longest registry text trusted as an OS value.
inline constexpr std::size_t MaxRegistryTextBytes = 256;

// A registry string value as the sweep may record it: nullopt when it is
// overlong or holds a control character (a value of the wrong registry type
// is the reader's to refuse, before it gets here).
std::optional<std::string> RegistryText(std::string_view value);

// nullopt when the values tell neither the version nor client from server.
// productType is the ProductType value, osVersion CurrentVersion ("6.1"),
// used when the build number is absent. Values that RegistryText would refuse
// count as absent.
std::optional<std::string> OsFamily(const OsFacts& os, const std::optional<std::string>& productType,
                                    const std::optional<std::string>& osVersion);

}  // namespace quorvex::records
