// One host record as a JSON Lines line and as a CSV row, and back from JSON.
//
//   out << ToJsonLine(record) << '\n';           // one line, no line end in it
//   csv << CsvBom << CsvHeader();                // once, at the top of a new file
//   csv << ToCsvRow(record);                     // ends with CR LF
//   std::optional<HostRecord> r = ParseJsonLine(line);   // nullopt: not a record
//
// JSON keys, in this order: schema, host, checked_at, elapsed_ms, exit_code,
// failed, timed_out, crashed, address, full_name, netbios_name, domain,
// product_type, os_version, admin_share, free_bytes, os, errors, smb,
// clock_skew_s, dns_domain, reboot_pending, remote_registry, domain_services,
// local_admins, profiles, old_domain, blockers, site, lines.
//   failed  the exit code taken apart (core/exit_codes.h FailureNames); on
//           reading it is recomputed from exit_code, never trusted.
//   os      always an object: CurrentMajorVersionNumber,
//           CurrentMinorVersionNumber, CurrentBuildNumber, UBR, DisplayVersion,
//           ProductName, EditionID, InstallationType, family; each null when
//           the run did not read it.
//   errors  an array of {"call": text, "status": number, "name": text or null}.
//   smb     always an object: dialect ("3.1.1" or null), signing_required
//           (true/false/null).
//   site    the sweep's --site text, or null; older sweeps' records lack the
//           key, which reads as null.
// Every fact the run did not reach is null. Text that is not valid UTF-8 is
// written with U+FFFD in place of each bad sequence; control characters are
// escaped by JSON.
//
// CSV: the same facts without lines, columns named as the JSON keys with the
// os and smb members as os.<name> and smb.<name>; failed joined with spaces,
// errors as call:status:name joined with spaces (call:status when the status
// has no name), booleans true/false, null as an empty cell, RFC 4180 quoting,
// CR LF row ends. A text cell that would start with = + - @ or a tab is
// written with a leading apostrophe so that a spreadsheet never runs a
// formula a host sent.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "records/host_record.h"

namespace quorvex::records {

// A JSON Lines line longer than this is not read as a record.
inline constexpr std::size_t MaxRecordLineBytes = 4u << 20;

inline constexpr std::string_view CsvBom = "\xEF\xBB\xBF";

std::string ToJsonLine(const HostRecord& record);
// Accepts only a JSON object with schema 1 and every key of the right type
// (a missing nullable key reads as null); anything else, however garbled or
// hostile, gives nullopt.
std::optional<HostRecord> ParseJsonLine(std::string_view line);
// ParseJsonLine reads lines as ToJsonLine writes them straight into a record,
// and reads every other line as a whole document first. This is that second
// reader alone, for checking that the two agree on every line.
std::optional<HostRecord> ParseJsonDocument(std::string_view line);

std::string CsvHeader();
std::string ToCsvRow(const HostRecord& record);

}  // namespace quorvex::records
