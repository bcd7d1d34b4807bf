// The hosts a sweep checks, read from the list an administrator gives it.
//
//   std::string bytes;
//   HostList list;
//   std::string error = ReadListBytes(stream, bytes);
//   if (error.empty()) error = ReadHostList(bytes, list);
//   if (!error.empty()) -> one line on standard error, exit 3
//   for (const HostEntry& e : list.Entries)
//     e.Refusal ? record it (exit 9, ["usage"], the one line) : check e.RunHost
//
// A list is plain text (one host a line; blank lines and lines starting with
// '#' or ';' ignored) or CSV as Active Directory exports it: the first line,
// after an optional "#TYPE ..." line, is a header that holds a comma or starts
// with a double quote and names a column DNSHostName, Name, ComputerName or
// Host (any case). DNSHostName wins; a row whose DNSHostName is empty uses its
// Name; with neither, ComputerName, then Host. Fields are quoted as RFC 4180
// has them; rows with an empty host field are skipped like blank lines.
//
// Encodings: UTF-8 with or without BOM, UTF-16LE or UTF-16BE with BOM (both
// converted to UTF-8). Everything here is UTF-8.
//
// Host text: trimmed of spaces, backslashes and double quotes at both ends as
// the single tool trims its /M value. RunHost is that text upper-cased the way
// the single tool upper-cases its code page 437 text (a-z and the seven
// letters ä ö ü é ñ å ç), but kept in UTF-8: the sweep converts it to the
// platform's 8-bit text at the edge, as the single tool's command line is.
// Non-ASCII host names are rare; the listed spelling stays in the record and
// duplicates are found on Key, that upper-cased form.
#pragma once

#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/host_record.h"

namespace quorvex::sweep {

// A list larger than this is refused as not being a host list.
inline constexpr std::size_t MaxHostListBytes = 64u << 20;
inline constexpr std::size_t MaxHostEntries = 1000000;

struct HostEntry {
  std::string Listed;                  // as listed (spaces and tabs at the ends dropped): the record's host
  std::string RunHost;                 // the /M value for the run; empty when refused
  std::string Key;                     // records::HostKey: duplicates and resume compare this
  std::optional<std::string> Refusal;  // the one line a refused entry's record carries
  std::size_t LineNumber = 0;          // where the entry starts, from 1
};

struct HostList {
  std::vector<HostEntry> Entries;  // in list order, duplicates removed
  std::size_t Duplicates = 0;      // later spellings of a host already listed
  bool Csv = false;
};

// Reads the whole stream, at most MaxHostListBytes: "", or one line saying
// why the stream cannot be read or is too large.
std::string ReadListBytes(std::istream& in, std::string& bytes);

// Parses a list into `list`: "", or one line saying why it is no host list
// (not text, too large, no host at all), with `list` left empty; the caller
// exits 3. A list whose only entries are refused ones is not "no host": each
// gets its record.
std::string ReadHostList(std::string_view bytes, HostList& list);

// The record of a refused entry: the usage code (failed ["usage"]) and its
// one line.
records::HostRecord RefusedRecord(const HostEntry& entry, std::string checkedAt);

}  // namespace quorvex::sweep
