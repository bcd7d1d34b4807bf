// The per-host data of the fleet report, as the page's script reads it.
//
// A fleet repeats itself: status lines, OS names, accounts and their SIDs,
// the same lists of services on every server. The data names each text or
// list that occurs more than once by its place in a table, most frequent
// first, and writes the rest where they are used:
//
//   {"since": bool, "blockers": [[name, meaning], ...],
//    "sites": [site or null, ...],       the table of sites' rows, in order;
//                                        absent when no record has a site
//    "t": [null, text, ...],             texts named more than once
//    "p": [[pre, field, post], ...],     texts built around one of the host's
//                                        own fields (0 host, 1 its first label
//                                        in upper case, 2 address, 3 domain)
//    "v": [list, ...],                   lists named more than once
//    "hosts": [[host, exit code, failed, flags, address, full name, NetBIOS
//               name, domain, product type, os version, free bytes, elapsed
//               ms, checked at, lines, family, build, os, errors, smb, change,
//               blockers, move, site], ...]}
//
// A text is a number k (t[k] for k >= 0, p[-k-1] filled in for the host),
// a string (itself) or null; a list is a number (v[k]), an array or null.
// flags: 1 timed out, 2 crashed, 4 admin$ found, 8 admin$ not found. The
// entries of lists hold texts, numbers and further lists by the same rules.
// Every text is made valid UTF-8 first (U+FFFD for what is not) and written
// safe inside a <script> element: no "<", ">", "&", U+2028 or U+2029 appears
// as itself.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "records/host_record.h"

namespace quorvex::report {

// changes[i] is the change label of records[i] ("" without an older sweep);
// sites are the rows of the page's table of sites (none: no table).
void WritePageData(std::ostream& out, const std::vector<records::HostRecord>& records,
                   const std::vector<std::string>& changes, bool since,
                   const std::vector<std::optional<std::string>>& sites);

}  // namespace quorvex::report
