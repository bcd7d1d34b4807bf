#include "report/page_data.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <numeric>
#include <string_view>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "core/encoding.h"
#include "core/exit_codes.h"
#include "records/blockers.h"
#include "report/compare.h"

namespace quorvex::report {
namespace {

using records::HostRecord;

// Output in large writes: the data of a large fleet is tens of megabytes
// written a few bytes at a time.
class Writer {
 public:
  explicit Writer(std::ostream& out) : out_(out) { buffer_.reserve(Chunk + 4096); }
  ~Writer() { Flush(); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  Writer& operator<<(std::string_view text) {
    buffer_ += text;
    if (buffer_.size() >= Chunk) Flush();
    return *this;
  }
  Writer& operator<<(char c) {
    buffer_ += c;
    return *this;
  }
  void Number(std::int64_t value) { *this << std::string_view(std::to_string(value)); }
  void Unsigned(std::uint64_t value) { *this << std::string_view(std::to_string(value)); }

  // A JSON string of valid UTF-8 that cannot end its <script> element, open
  // a comment in it, or end a line for older script parsers.
  void String(std::string_view text) {
    static constexpr char Hex[] = "0123456789abcdef";
    buffer_ += '"';
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      if (c == '"' || c == '\\') {
        buffer_ += '\\';
        buffer_ += static_cast<char>(c);
      } else if (c < 0x20 || c == '<' || c == '>' || c == '&') {
        buffer_ += "\\u00";
        buffer_ += Hex[c >> 4];
        buffer_ += Hex[c & 15];
      } else if (c == 0xE2 && i + 2 < text.size() && text[i + 1] == '\x80' &&
                 (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
        buffer_ += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
        i += 2;
      } else {
        buffer_ += static_cast<char>(c);
      }
    }
    buffer_ += '"';
    if (buffer_.size() >= Chunk) Flush();
  }

  void Flush() {
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    buffer_.clear();
  }

 private:
  static constexpr std::size_t Chunk = 64 * 1024;
  std::ostream& out_;
  std::string buffer_;
};

// What a slot of the data names: packed in 32 bits, the kind in the top two.
enum Kind : std::uint32_t { NullRef = 0, TextRef = 1u << 30, TemplateRef = 2u << 30, ListRef = 3u << 30 };
using Ref = std::uint32_t;
constexpr Ref IdMask = (1u << 30) - 1;
constexpr Ref Null = NullRef;

Ref Make(Kind kind, std::size_t id) { return kind | static_cast<Ref>(id); }
Kind KindOf(Ref ref) { return static_cast<Kind>(ref & ~IdMask); }
std::uint32_t IdOf(Ref ref) { return ref & IdMask; }

// The host's own fields a text may be built around, in the page's order.
enum Field : unsigned { HostField, LabelField, AddressField, DomainField, FieldCount };
constexpr unsigned AllFields = (1u << FieldCount) - 1;
constexpr unsigned NameFields = (1u << HostField) | (1u << LabelField);
// Shorter values would split texts at chance matches and share nothing.
constexpr std::size_t ShortestField = 3;

// A list's members: a reference, or a number (an entry's status, a version,
// a flag) that is written as it is.
struct Member {
  bool IsNumber = false;
  bool IsNull = false;
  Ref Named = Null;
  std::int64_t Value = 0;
};

// Distinct byte strings numbered in the order first seen: looked up without
// a copy, stored once, where no later addition moves them.
class Numbering {
 public:
  void Reserve(std::size_t count) { ids_.reserve(count); }
  // The number, and whether the bytes are new.
  std::pair<std::uint32_t, bool> Add(std::string_view bytes) {
    if (const auto it = ids_.find(bytes); it != ids_.end()) return {it->second, false};
    const auto id = static_cast<std::uint32_t>(keys_.size());
    keys_.push_back(store_.emplace_back(bytes));
    ids_.emplace(keys_.back(), id);
    return {id, true};
  }
  std::string_view operator[](std::uint32_t id) const { return keys_[id]; }

 private:
  std::deque<std::string> store_;
  std::unordered_map<std::string_view, std::uint32_t> ids_;
  std::vector<std::string_view> keys_;
};

// The texts, templates and lists of the page, each once, counted by how
// often the data names them so that the most named get the shortest indexes
// and those named once are written in place.
class Tables {
 public:
  explicit Tables(std::size_t hosts) {
    // Most hosts bring a text or two of their own (a SID, a time) and a list.
    texts_.Reserve(hosts * 2);
    lists_.Reserve(hosts * 2);
  }

  void SetHost(std::array<std::string, FieldCount> fields) { fields_ = std::move(fields); }

  // `allowed`: the fields the text may be built around.
  Ref Text(const std::optional<std::string>& text, unsigned allowed = AllFields) {
    return text ? Text(std::string_view(*text), allowed) : Null;
  }
  Ref Text(const std::string& text, unsigned allowed = AllFields) { return Text(std::string_view(text), allowed); }
  Ref Text(std::string_view raw, unsigned allowed = AllFields) {
    std::string repaired;
    std::string_view text = raw;
    if (!IsValidUtf8(raw)) text = repaired = ValidUtf8(raw);
    std::size_t best = FieldCount, at = 0;
    for (unsigned f = 0; f < FieldCount; ++f) {
      const std::string& value = fields_[f];
      if (!(allowed & (1u << f)) || value.size() < ShortestField) continue;
      if (best != FieldCount && value.size() <= fields_[best].size()) continue;
      if (const std::size_t found = text.find(value); found != std::string_view::npos) {
        best = f;
        at = found;
      }
    }
    if (best == FieldCount) return Make(TextRef, Intern(text));
    const Ref pre = Make(TextRef, Intern(text.substr(0, at)));
    const Ref post = Make(TextRef, Intern(text.substr(at + fields_[best].size())));
    key_.assign(reinterpret_cast<const char*>(&pre), sizeof pre);
    key_ += static_cast<char>(best);
    key_.append(reinterpret_cast<const char*>(&post), sizeof post);
    const auto [id, added] = templates_.Add(key_);
    if (added) {
      templateUses_.push_back(0);
      Use(pre);
      Use(post);
    }
    return Make(TemplateRef, id);
  }

  Ref List(const std::vector<Member>& members) {
    key_.clear();
    for (const Member& m : members) {
      const char kind = m.IsNull ? 'n' : m.IsNumber ? '#' : 'r';
      key_ += kind;
      if (m.IsNumber) key_.append(reinterpret_cast<const char*>(&m.Value), sizeof m.Value);
      if (!m.IsNull && !m.IsNumber) key_.append(reinterpret_cast<const char*>(&m.Named), sizeof m.Named);
    }
    const auto [id, added] = lists_.Add(key_);
    if (added) {
      listUses_.push_back(0);
      for (const Member& m : members) {
        if (!m.IsNull && !m.IsNumber) Use(m.Named);
      }
    }
    return Make(ListRef, id);
  }
  Ref TextList(const std::vector<std::string>& texts) {
    std::vector<Member> members;
    for (const std::string& t : texts) members.push_back({false, false, Text(t), 0});
    return List(members);
  }
  Ref TextList(const std::optional<std::vector<std::string>>& texts) { return texts ? TextList(*texts) : Null; }

  // Counts one more place in the data that names the reference.
  void Use(Ref ref) {
    const std::uint32_t id = IdOf(ref);
    switch (KindOf(ref)) {
      case TextRef: ++textUses_[id]; break;
      case TemplateRef: ++templateUses_[id]; break;
      case ListRef: ++listUses_[id]; break;
      case NullRef: break;
    }
  }

  // Gives the shared entries their places, most named first: t[0] is null,
  // and so is v[0], so that a missing text or list costs one digit.
  void Number() {
    textIndex_ = Order(textUses_, 1, 2, &tableTexts_);
    templateIndex_ = Order(templateUses_, 0, 1, &tableTemplates_);
    listIndex_ = Order(listUses_, 1, 2, &tableLists_);
  }

  void Write(Writer& out, Ref ref) const {
    const std::uint32_t id = IdOf(ref);
    switch (KindOf(ref)) {
      case NullRef: out << '0'; break;
      case TextRef:
        if (textIndex_[id] < 0) {
          out.String(texts_[id]);
        } else {
          out.Number(textIndex_[id]);
        }
        break;
      case TemplateRef: out.Number(-1 - templateIndex_[id]); break;
      case ListRef:
        if (listIndex_[id] < 0) {
          WriteList(out, id);
        } else {
          out.Number(listIndex_[id]);
        }
        break;
    }
  }

  void WriteTables(Writer& out) const {
    out << "\"t\":[null";
    for (std::uint32_t id : tableTexts_) {
      out << ',';
      out.String(texts_[id]);
    }
    out << "],\"p\":[";
    for (std::size_t i = 0; i < tableTemplates_.size(); ++i) {
      const std::string_view key = templates_[tableTemplates_[i]];
      Ref pre, post;
      std::memcpy(&pre, key.data(), sizeof pre);
      std::memcpy(&post, key.data() + sizeof pre + 1, sizeof post);
      out << (i ? ",[" : "[");
      Write(out, pre);
      out << ',';
      out.Number(key[sizeof pre]);
      out << ',';
      Write(out, post);
      out << ']';
    }
    out << "],\"v\":[null";
    for (std::uint32_t id : tableLists_) {
      out << ',';
      WriteList(out, id);
    }
    out << ']';
  }

 private:
  std::uint32_t Intern(std::string_view text) {
    const auto [id, added] = texts_.Add(text);
    if (added) textUses_.push_back(0);
    return id;
  }

  void WriteList(Writer& out, std::uint32_t id) const {
    const std::string_view key = lists_[id];
    out << '[';
    for (std::size_t at = 0; at < key.size();) {
      if (at) out << ',';
      const char kind = key[at++];
      if (kind == 'n') {
        out << "null";
      } else if (kind == '#') {
        std::int64_t value;
        std::memcpy(&value, key.data() + at, sizeof value);
        at += sizeof value;
        out.Number(value);
      } else {
        Ref ref;
        std::memcpy(&ref, key.data() + at, sizeof ref);
        at += sizeof ref;
        Write(out, ref);
      }
    }
    out << ']';
  }

  // Index of each entry in its table, or -1 for one written in place (named
  // fewer than `shared` times). `first` is the first table index given.
  static std::vector<std::int64_t> Order(const std::vector<std::uint32_t>& uses, std::int64_t first,
                                         std::uint32_t shared, std::vector<std::uint32_t>* table) {
    table->clear();
    for (std::uint32_t id = 0; id < uses.size(); ++id) {
      if (uses[id] >= shared) table->push_back(id);
    }
    std::stable_sort(table->begin(), table->end(),
                     [&uses](std::uint32_t a, std::uint32_t b) { return uses[a] > uses[b]; });
    std::vector<std::int64_t> index(uses.size(), -1);
    for (std::size_t i = 0; i < table->size(); ++i) index[(*table)[i]] = first + static_cast<std::int64_t>(i);
    return index;
  }

  std::array<std::string, FieldCount> fields_;
  Numbering texts_, templates_, lists_;
  std::string key_;  // the key of the template or list being looked up
  std::vector<std::uint32_t> textUses_, templateUses_, listUses_;
  std::vector<std::int64_t> textIndex_, templateIndex_, listIndex_;
  std::vector<std::uint32_t> tableTexts_, tableTemplates_, tableLists_;
};

Member Named(Ref ref) { return {false, false, ref, 0}; }
Member Num(std::int64_t value) { return {true, false, Null, value}; }
template <typename T>
Member Num(const std::optional<T>& value) {
  return value ? Num(static_cast<std::int64_t>(*value)) : Member{false, true, Null, 0};
}

// The first label of a host name in upper case, as the page's script makes
// it: the NetBIOS name most hosts have. ASCII only, where both agree.
std::string UpperLabel(const std::string& host) {
  std::string label = host.substr(0, host.find('.'));
  for (char& c : label) {
    if (static_cast<unsigned char>(c) >= 0x80) return {};
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return label;
}

// A row's slots that refer to the tables, in row order.
enum Slot {
  FailedSlot,
  FullNameSlot,
  NetbiosSlot,
  DomainSlot,
  ProductTypeSlot,
  OsVersionSlot,
  CheckedAtSlot,
  LinesSlot,
  FamilySlot,
  BuildSlot,
  OsSlot,
  ErrorsSlot,
  SmbSlot,
  ChangeSlot,
  BlockersSlot,
  // The move facts, in their list's order after the clock skew.
  RebootSlot,
  RegistrySlot,
  ServicesSlot,
  AdminsSlot,
  ProfilesSlot,
  OldDomainSlot,
  DnsDomainSlot,
  AddressSlot,
  SiteSlot,
  SlotCount
};
using Row = std::array<Ref, SlotCount>;

bool HasMoveFacts(const records::MoveFacts& m) {
  return m.ClockSkewS || m.DnsDomain || m.RebootPending || m.RemoteRegistry || m.DomainServices || m.LocalAdmins ||
         m.Profiles || m.OldDomain || m.Blockers;
}

Row Collect(const HostRecord& r, const std::string& change, Tables& t) {
  Row row{};
  std::string host = ValidUtf8(r.Host);
  std::string label = UpperLabel(host);
  std::array<std::string, FieldCount> fields{std::move(host), std::move(label),
                                             r.Address ? ValidUtf8(*r.Address) : std::string(),
                                             r.Domain ? ValidUtf8(*r.Domain) : std::string()};
  t.SetHost(std::move(fields));
  std::string failed;
  for (std::string_view name :
       FailureNames(static_cast<std::uint16_t>(r.ExitCode < 0 || r.ExitCode > 255 ? 255 : r.ExitCode))) {
    failed += (failed.empty() ? "" : " ") + std::string(name);
  }
  row[FailedSlot] = t.Text(failed, 0);
  // The address and domain are what other texts are built around: never
  // built around each other.
  row[AddressSlot] = t.Text(r.Address, 0);
  row[DomainSlot] = t.Text(r.Domain, 0);
  row[FullNameSlot] = t.Text(r.FullName);
  row[NetbiosSlot] = t.Text(r.NetbiosName, NameFields);
  row[ProductTypeSlot] = t.Text(r.ProductType);
  row[OsVersionSlot] = t.Text(r.OsVersion);
  row[CheckedAtSlot] = t.Text(r.CheckedAt, 0);
  row[LinesSlot] = t.TextList(r.Lines);
  row[FamilySlot] = t.Text(FamilyOf(r), 0);
  row[BuildSlot] = t.Text(BuildText(r), 0);
  const records::OsFacts& os = r.Os;
  row[OsSlot] = t.List({Named(t.Text(os.ProductName, 0)), Named(t.Text(os.EditionID, 0)),
                        Named(t.Text(os.DisplayVersion, 0)), Named(t.Text(os.InstallationType, 0)),
                        Num(os.CurrentMajorVersionNumber), Num(os.CurrentMinorVersionNumber)});
  std::vector<Member> errors;
  for (const records::CallError& e : r.Errors) {
    errors.push_back(Named(t.List({Named(t.Text(e.Call)), Num(e.Status), Named(t.Text(e.Name))})));
  }
  row[ErrorsSlot] = t.List(errors);
  if (r.Smb.Dialect || r.Smb.SigningRequired) {
    row[SmbSlot] = t.List({Named(t.Text(r.Smb.Dialect, 0)), Num(r.Smb.SigningRequired)});
  }
  row[ChangeSlot] = t.Text(change, 0);
  row[BlockersSlot] = t.TextList(r.Move.Blockers);

  // Each entry in the order the page shows its columns, its last member 1
  // when it belongs to the old domain: the page marks those without knowing
  // the rule.
  const records::MoveFacts& m = r.Move;
  auto old = [&r](const std::string& domain) { return Num(records::InOldDomain(r, domain) ? 1 : 0); };
  row[RebootSlot] = t.TextList(m.RebootPending);
  if (m.RemoteRegistry) {
    row[RegistrySlot] = t.List({Named(t.Text(m.RemoteRegistry->State)), Named(t.Text(m.RemoteRegistry->StartType))});
  }
  if (m.DomainServices) {
    std::vector<Member> services;
    for (const records::ServiceEntry& s : *m.DomainServices) {
      services.push_back(
          Named(t.List({Named(t.Text(s.Name)), Named(t.Text(s.DisplayName)), Named(t.Text(s.Account)),
                        Named(t.Text(s.StartType)), Named(t.Text(s.State)), old(records::AccountDomain(s.Account))})));
    }
    row[ServicesSlot] = t.List(services);
  }
  if (m.LocalAdmins) {
    std::vector<Member> admins;
    for (const records::AccountEntry& a : *m.LocalAdmins) {
      admins.push_back(Named(t.List({Named(t.Text(a.Name)), Named(t.Text(a.Domain)), Named(t.Text(a.Kind)),
                                     Named(t.Text(a.Sid)), old(a.Domain)})));
    }
    row[AdminsSlot] = t.List(admins);
  }
  if (m.Profiles) {
    std::vector<Member> profiles;
    for (const records::AccountEntry& p : *m.Profiles) {
      profiles.push_back(
          Named(t.List({Named(t.Text(p.Sid)), Named(t.Text(p.Name)), Named(t.Text(p.Domain)), old(p.Domain)})));
    }
    row[ProfilesSlot] = t.List(profiles);
  }
  row[OldDomainSlot] = t.Text(m.OldDomain);
  row[DnsDomainSlot] = t.Text(m.DnsDomain);
  row[SiteSlot] = t.Text(r.Site, 0);
  for (Ref ref : row) t.Use(ref);
  return row;
}

void WriteRow(Writer& out, const HostRecord& r, const Row& row, const Tables& t) {
  auto ref = [&](Slot slot) {
    out << ',';
    t.Write(out, row[slot]);
  };
  out << '[';
  out.String(ValidUtf8(r.Host));
  out << ',';
  out.Number(r.ExitCode);
  ref(FailedSlot);
  out << ',';
  out.Number((r.TimedOut ? 1 : 0) | (r.Crashed ? 2 : 0) | (r.AdminShare ? (*r.AdminShare ? 4 : 8) : 0));
  ref(AddressSlot);
  ref(FullNameSlot);
  ref(NetbiosSlot);
  ref(DomainSlot);
  ref(ProductTypeSlot);
  ref(OsVersionSlot);
  out << ',';
  if (r.FreeBytes) {
    out.Unsigned(*r.FreeBytes);
  } else {
    out << "null";
  }
  out << ',';
  out.Number(r.ElapsedMs);
  for (Slot slot :
       {CheckedAtSlot, LinesSlot, FamilySlot, BuildSlot, OsSlot, ErrorsSlot, SmbSlot, ChangeSlot, BlockersSlot}) {
    ref(slot);
  }
  out << ',';
  const records::MoveFacts& m = r.Move;
  if (!HasMoveFacts(m)) {
    out << "null";
    ref(SiteSlot);
    out << ']';
    return;
  }
  out << '[';
  if (m.ClockSkewS && std::isfinite(*m.ClockSkewS)) {
    out << std::string_view(nlohmann::json(std::round(*m.ClockSkewS * 10.0) / 10.0).dump());
  } else {
    out << "null";
  }
  for (Slot slot : {RebootSlot, RegistrySlot, ServicesSlot, AdminsSlot, ProfilesSlot, OldDomainSlot, DnsDomainSlot}) {
    ref(slot);
  }
  out << ']';
  ref(SiteSlot);
  out << ']';
}

}  // namespace

void WritePageData(std::ostream& stream, const std::vector<HostRecord>& records,
                   const std::vector<std::string>& changes, bool since,
                   const std::vector<std::optional<std::string>>& sites) {
  Tables tables(records.size());
  std::vector<Row> rows;
  rows.reserve(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) rows.push_back(Collect(records[i], changes[i], tables));
  tables.Number();

  Writer out(stream);
  out << "{\"since\":" << (since ? "true" : "false") << ",\"blockers\":[";
  // What each blocker means travels once, not with every host that has it.
  for (std::size_t i = 0; i < std::size(records::BlockerTable); ++i) {
    out << (i ? ",[" : "[");
    out.String(records::BlockerTable[i].Name);
    out << ',';
    out.String(records::BlockerTable[i].Meaning);
    out << ']';
  }
  out << "],";
  if (!sites.empty()) {
    out << "\"sites\":[";
    for (std::size_t i = 0; i < sites.size(); ++i) {
      if (i) out << ',';
      if (sites[i]) {
        out.String(ValidUtf8(*sites[i]));
      } else {
        out << "null";
      }
    }
    out << "],";
  }
  tables.WriteTables(out);
  out << ",\"hosts\":[";
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (i) out << ',';
    WriteRow(out, records[i], rows[i], tables);
  }
  out << "]}";
}

}  // namespace quorvex::report
