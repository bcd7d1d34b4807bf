#include "sweep/host_list.h"

#include <algorithm>
#include <unordered_set>

#include "core/encoding.h"
#include "core/exit_codes.h"
#include "core/text.h"
#include "records/host_key.h"

namespace quorvex::sweep {

namespace {

constexpr std::string_view BlankSet = " \t";

constexpr std::string_view HostColumns[] = {"DNSHOSTNAME", "NAME", "COMPUTERNAME", "HOST"};

struct RefusedCharacter {
  char Byte;
  std::string_view Said;
};

// A host text holding one of these could add a switch or split a command
// line; no host name holds them.
constexpr RefusedCharacter RefusedCharacters[] = {
    {' ', "a space"}, {'\t', "a tab"}, {',', "a comma"}, {'/', "a slash"}, {'"', "a double quote"},
};

std::string AsciiUpper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

std::string_view TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(BlankSet);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(BlankSet) - first + 1);
}

std::optional<std::string> RefusalOf(std::string_view raw, std::string_view trimmed) {
  if (!IsValidUtf8(raw)) return "ERROR: The host text is not UTF-8 text; save the list as UTF-8 or Unicode.";
  if (trimmed.empty()) return "ERROR: No host name is left once spaces, backslashes and quotes are trimmed.";
  for (const RefusedCharacter& refused : RefusedCharacters) {
    if (trimmed.find(refused.Byte) != std::string_view::npos) {
      return "ERROR: The host text holds " + std::string(refused.Said) + ", which no host name does.";
    }
  }
  for (char c : trimmed) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      static constexpr char Hex[] = "0123456789ABCDEF";
      return std::string("ERROR: The host text holds the control character 0x") + Hex[byte >> 4] + Hex[byte & 0xF] +
             ", which no host name does.";
    }
  }
  return std::nullopt;
}

HostEntry MakeEntry(std::string_view raw, std::size_t lineNumber) {
  HostEntry entry;
  const std::string_view listed = TrimBlanks(raw);
  entry.Listed = ValidUtf8(listed);
  entry.Key = records::HostKey(listed);
  entry.Refusal = RefusalOf(listed, TrimChars(entry.Listed, records::HostTrimChars));
  if (!entry.Refusal) entry.RunHost = entry.Key;
  entry.LineNumber = lineNumber;
  return entry;
}

// Reads the text as lines or as CSV records, counting lines as it goes.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}
  bool AtEnd() const { return pos_ >= text_.size(); }
  std::size_t LineNumber() const { return line_; }

  std::string_view Line() {
    const std::size_t end = text_.find_first_of("\r\n", pos_);
    const std::string_view line =
        text_.substr(pos_, end == std::string_view::npos ? std::string_view::npos : end - pos_);
    pos_ = end == std::string_view::npos ? text_.size() : end;
    SkipLineEnd();
    return line;
  }

  // One RFC 4180 record. A quote opens a quoted field only at its start;
  // text after a closing quote joins the field, and a quote left open runs
  // to the end: a malformed row yields odd fields, never a lost row.
  std::vector<std::string> Record() {
    std::vector<std::string> fields(1);
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '\r' || c == '\n') break;
      if (c == ',') {
        fields.emplace_back();
        ++pos_;
      } else if (c == '"' && fields.back().empty()) {
        ++pos_;
        QuotedField(fields.back());
      } else {
        fields.back() += c;
        ++pos_;
      }
    }
    SkipLineEnd();
    return fields;
  }

 private:
  void QuotedField(std::string& field) {
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"') {
        if (pos_ < text_.size() && text_[pos_] == '"') {
          field += '"';
          ++pos_;
        } else {
          return;
        }
      } else {
        if (c == '\n' || (c == '\r' && (pos_ >= text_.size() || text_[pos_] != '\n'))) ++line_;
        field += c;
      }
    }
  }

  void SkipLineEnd() {
    if (pos_ < text_.size() && text_[pos_] == '\r') ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
    ++line_;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
};

// The column a CSV row's host comes from, and the one that stands in when
// it is empty (Name for DNSHostName).
struct HostColumnsFound {
  std::optional<std::size_t> Main;
  std::optional<std::size_t> Fallback;
};

HostColumnsFound FindHostColumns(const std::vector<std::string>& header) {
  std::optional<std::size_t> found[std::size(HostColumns)];
  for (std::size_t i = 0; i < header.size(); ++i) {
    const std::string name = AsciiUpper(TrimBlanks(header[i]));
    for (std::size_t k = 0; k < std::size(HostColumns); ++k) {
      if (name == HostColumns[k] && !found[k]) found[k] = i;
    }
  }
  HostColumnsFound columns;
  for (std::size_t k = 0; k < std::size(HostColumns) && !columns.Main; ++k) columns.Main = found[k];
  if (columns.Main == found[0]) columns.Fallback = found[1];
  return columns;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && AsciiUpper(text.substr(0, prefix.size())) == prefix;
}

std::string Decode(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return std::string(bytes.substr(3));
  if (bytes.substr(0, 2) == "\xFF\xFE") return Utf16ToUtf8(bytes.substr(2), false);
  if (bytes.substr(0, 2) == "\xFE\xFF") return Utf16ToUtf8(bytes.substr(2), true);
  return std::string(bytes);
}

}  // namespace

std::string ReadListBytes(std::istream& in, std::string& bytes) {
  bytes.clear();
  char buffer[64 * 1024];
  while (in) {
    in.read(buffer, sizeof buffer);
    bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (bytes.size() > MaxHostListBytes)
      return "the host list is larger than " + std::to_string(MaxHostListBytes >> 20) + " MiB";
  }
  if (in.bad()) return "the host list cannot be read";
  return {};
}

std::string ReadHostList(std::string_view bytes, HostList& list) {
  list = HostList();
  if (bytes.size() > MaxHostListBytes) {
    return "the host list is larger than " + std::to_string(MaxHostListBytes >> 20) + " MiB";
  }
  const std::string text = Decode(bytes);
  if (text.find('\0') != std::string::npos) {
    return "the host list is not text (it holds NUL bytes; UTF-16 needs its byte order mark)";
  }

  // A CSV header comes first, or right after PowerShell's "#TYPE" line.
  Reader start(text);
  if (Reader first(text); StartsWithNoCase(first.Line(), "#TYPE")) start = first;
  Reader reader = start;
  HostColumnsFound columns;
  if (const std::string_view header = Reader(start).Line();
      header.find(',') != std::string_view::npos || header.substr(0, 1) == "\"") {
    columns = FindHostColumns(reader.Record());
  }

  list.Csv = columns.Main.has_value();
  std::vector<HostEntry> entries;
  entries.reserve(std::min<std::size_t>(std::count(text.begin(), text.end(), '\n') + 1, MaxHostEntries + 1));
  if (list.Csv) {
    while (!reader.AtEnd()) {
      const std::size_t lineNumber = reader.LineNumber();
      const std::vector<std::string> row = reader.Record();
      std::string_view host = *columns.Main < row.size() ? TrimBlanks(row[*columns.Main]) : std::string_view();
      if (host.empty() && columns.Fallback && *columns.Fallback < row.size()) host = TrimBlanks(row[*columns.Fallback]);
      if (!host.empty()) entries.push_back(MakeEntry(host, lineNumber));
      if (entries.size() > MaxHostEntries) break;
    }
  } else {
    reader = Reader(text);
    while (!reader.AtEnd()) {
      const std::size_t lineNumber = reader.LineNumber();
      const std::string_view line = TrimBlanks(reader.Line());
      if (line.empty() || line.front() == '#' || line.front() == ';') continue;
      entries.push_back(MakeEntry(line, lineNumber));
      if (entries.size() > MaxHostEntries) break;
    }
  }
  if (entries.size() > MaxHostEntries) {
    list = HostList();
    return "the host list names more than " + std::to_string(MaxHostEntries) + " hosts";
  }

  // The keys seen are those of the entries kept, which never move: room for
  // them all is made first.
  std::unordered_set<std::string_view> seen;
  seen.reserve(entries.size());
  list.Entries.reserve(entries.size());
  for (HostEntry& entry : entries) {
    if (seen.count(entry.Key) == 0) {
      list.Entries.push_back(std::move(entry));
      seen.insert(list.Entries.back().Key);
    } else {
      ++list.Duplicates;
    }
  }
  if (list.Entries.empty()) {
    list = HostList();
    return "the host list names no host";
  }
  return {};
}

records::HostRecord RefusedRecord(const HostEntry& entry, std::string checkedAt) {
  records::HostRecord record;
  record.Host = entry.Listed;
  record.CheckedAt = std::move(checkedAt);
  record.ExitCode = ExitCode::UsageShown;
  if (entry.Refusal) record.Lines.push_back(*entry.Refusal);
  return record;
}

}  // namespace quorvex::sweep
