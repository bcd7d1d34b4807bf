// When two host texts name the same host: one rule for the sweep's list
// (duplicates), its records (resume, --retry-unreachable) and the comparison
// of two sweeps, so that a host is never "new" to one and "done" to another.
#pragma once

#include <string>
#include <string_view>

namespace quorvex::records {

// What the single tool trims from both ends of its /M value.
inline constexpr std::string_view HostTrimChars = " \\\"";

// The host text (UTF-8, as listed or recorded) without the spaces and tabs
// around it, then without HostTrimChars at its ends, upper-cased the way the
// single tool upper-cases its code page 437 text (a-z and the seven letters
// ä ö ü é ñ å ç), kept in UTF-8. "\\pcä " and "PCÄ" have one key. It is also
// the /M value the sweep runs with, so it upper-cases no more than the single
// tool would.
std::string HostKey(std::string_view host);

// Host and domain text (UTF-8) upper-cased by that same rule, nothing trimmed.
std::string UpperCaseHostText(std::string_view utf8);

}  // namespace quorvex::records
