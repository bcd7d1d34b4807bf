// The symbolic name of a status a failed call returned: Win32 error codes,
// network (NERR_), Winsock (WSA), RPC and NTSTATUS codes.
//
//   error.Name = std::string(StatusName(status, call));   // "" when unknown
//
// Echo calls (IcmpSendEcho...) report IP_ statuses, whose numbers the Winsock
// resolver codes share; the call name chooses between them.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvex::records {

// An NTSTATUS may come as its 32-bit pattern (0xC0000022) or sign-extended
// (-1073741790); both name the same status.
std::string_view StatusName(std::int64_t status, std::string_view call = {});

}  // namespace quorvex::records
