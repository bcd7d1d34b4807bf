#include "records/record_io.h"

#include <array>
#include <cmath>
#include <limits>
#include <utility>

#include <nlohmann/json.hpp>

#include "core/encoding.h"
#include "core/exit_codes.h"
#include "records/blockers.h"

namespace quorvex::records {

namespace {

using Json = nlohmann::ordered_json;

// Deeper than any record: a line nested further is refused before it is
// parsed, so no hostile line costs more than its length.
constexpr int MaxJsonDepth = 8;

template <typename T>
Json OrNull(const std::optional<T>& value) {
  return value ? Json(*value) : Json(nullptr);
}

Json OrNull(const std::optional<std::string>& value) { return value ? Json(ValidUtf8(*value)) : Json(nullptr); }

Json FailedNames(int exitCode) {
  Json names = Json::array();
  for (std::string_view name : FailureNames(static_cast<std::uint16_t>(exitCode))) names.push_back(std::string(name));
  return names;
}

// The os members in file order, with how each is written and read.
struct OsField {
  const char* Key;
  std::optional<std::string> OsFacts::*Text;
  std::optional<std::uint32_t> OsFacts::*Number;
};

constexpr OsField OsFields[] = {
    {"CurrentMajorVersionNumber", nullptr, &OsFacts::CurrentMajorVersionNumber},
    {"CurrentMinorVersionNumber", nullptr, &OsFacts::CurrentMinorVersionNumber},
    {"CurrentBuildNumber", &OsFacts::CurrentBuildNumber, nullptr},
    {"UBR", nullptr, &OsFacts::UBR},
    {"DisplayVersion", &OsFacts::DisplayVersion, nullptr},
    {"ProductName", &OsFacts::ProductName, nullptr},
    {"EditionID", &OsFacts::EditionID, nullptr},
    {"InstallationType", &OsFacts::InstallationType, nullptr},
    {"family", &OsFacts::Family, nullptr},
};

struct TextField {
  const char* Key;
  std::optional<std::string> HostRecord::*Member;
};

constexpr TextField TextFields[] = {
    {"address", &HostRecord::Address},          {"full_name", &HostRecord::FullName},
    {"netbios_name", &HostRecord::NetbiosName}, {"domain", &HostRecord::Domain},
    {"product_type", &HostRecord::ProductType}, {"os_version", &HostRecord::OsVersion},
};

Json TextArray(const std::vector<std::string>& texts) {
  Json array = Json::array();
  for (const std::string& text : texts) array.push_back(ValidUtf8(text));
  return array;
}

// Members of the list entries, in file order.
struct ServiceMember {
  const char* Key;
  std::string ServiceEntry::*Member;
};
constexpr ServiceMember ServiceMembers[] = {{"name", &ServiceEntry::Name},
                                            {"display_name", &ServiceEntry::DisplayName},
                                            {"account", &ServiceEntry::Account},
                                            {"start_type", &ServiceEntry::StartType},
                                            {"state", &ServiceEntry::State}};
struct AccountMember {
  const char* Key;
  std::string AccountEntry::*Member;
};
constexpr AccountMember AdminMembers[] = {{"sid", &AccountEntry::Sid},
                                          {"name", &AccountEntry::Name},
                                          {"domain", &AccountEntry::Domain},
                                          {"kind", &AccountEntry::Kind}};
constexpr std::size_t ProfileMemberCount = 3;  // a profile has no kind

template <typename Entry, typename Member, std::size_t N>
Json EntriesJson(const std::optional<std::vector<Entry>>& entries, const Member (&members)[N], std::size_t count = N) {
  if (!entries) return nullptr;
  Json array = Json::array();
  for (const Entry& entry : *entries) {
    Json item = Json::object();
    for (std::size_t i = 0; i < count; ++i) item[members[i].Key] = ValidUtf8(entry.*(members[i].Member));
    array.push_back(std::move(item));
  }
  return array;
}

void MoveToJson(const MoveFacts& m, Json& j) {
  if (m.ClockSkewS) {
    // One decimal, as a number: tenths rounded, never "-0.0".
    const double tenths = std::round(*m.ClockSkewS * 10.0);
    j["clock_skew_s"] = tenths == 0.0 ? 0.0 : tenths / 10.0;
  } else {
    j["clock_skew_s"] = nullptr;
  }
  j["dns_domain"] = OrNull(m.DnsDomain);
  j["reboot_pending"] = m.RebootPending ? TextArray(*m.RebootPending) : Json(nullptr);
  j["remote_registry"] = m.RemoteRegistry ? Json{{"state", ValidUtf8(m.RemoteRegistry->State)},
                                                 {"start_type", ValidUtf8(m.RemoteRegistry->StartType)}}
                                          : Json(nullptr);
  j["domain_services"] = EntriesJson(m.DomainServices, ServiceMembers);
  j["local_admins"] = EntriesJson(m.LocalAdmins, AdminMembers);
  j["profiles"] = EntriesJson(m.Profiles, AdminMembers, ProfileMemberCount);
  j["old_domain"] = OrNull(m.OldDomain);
  j["blockers"] = m.Blockers ? TextArray(*m.Blockers) : Json(nullptr);
}

Json ToJson(const HostRecord& r) {
  Json j = Json::object();
  j["schema"] = r.Schema;
  j["host"] = ValidUtf8(r.Host);
  j["checked_at"] = ValidUtf8(r.CheckedAt);
  j["elapsed_ms"] = r.ElapsedMs;
  j["exit_code"] = r.ExitCode;
  j["failed"] = FailedNames(r.ExitCode);
  j["timed_out"] = r.TimedOut;
  j["crashed"] = r.Crashed;
  for (const TextField& field : TextFields) j[field.Key] = OrNull(r.*field.Member);
  j["admin_share"] = OrNull(r.AdminShare);
  j["free_bytes"] = OrNull(r.FreeBytes);
  Json os = Json::object();
  for (const OsField& field : OsFields) {
    os[field.Key] = field.Text ? OrNull(r.Os.*field.Text) : OrNull(r.Os.*field.Number);
  }
  j["os"] = std::move(os);
  Json errors = Json::array();
  for (const CallError& e : r.Errors) {
    errors.push_back(Json{{"call", ValidUtf8(e.Call)},
                          {"status", e.Status},
                          {"name", e.Name.empty() ? Json(nullptr) : Json(ValidUtf8(e.Name))}});
  }
  j["errors"] = std::move(errors);
  j["smb"] = Json{{"dialect", OrNull(r.Smb.Dialect)}, {"signing_required", OrNull(r.Smb.SigningRequired)}};
  MoveToJson(r.Move, j);
  j["site"] = OrNull(r.Site);
  Json lines = Json::array();
  for (const std::string& line : r.Lines) lines.push_back(ValidUtf8(line));
  j["lines"] = std::move(lines);
  return j;
}

bool NestedTooDeep(std::string_view line) {
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      if (++depth > MaxJsonDepth) return true;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return false;
}

// Readers of one member each: false when it is there with the wrong type.
// A member that is absent or null leaves the target empty. Texts are taken
// from the parsed line rather than copied: it is thrown away after.
bool Read(Json& j, const char* key, std::optional<std::string>& out) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return true;
  if (!it->is_string()) return false;
  out = std::move(it->get_ref<std::string&>());
  return true;
}

bool Read(Json& j, const char* key, std::optional<bool>& out) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return true;
  if (!it->is_boolean()) return false;
  out = it->get<bool>();
  return true;
}

template <typename T>
bool ReadNumber(Json& j, const char* key, std::optional<T>& out) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return true;
  if (!it->is_number_unsigned()) return false;  // negative numbers and fractions are not facts
  const auto value = it->get<std::uint64_t>();
  if (value > std::numeric_limits<T>::max()) return false;
  out = static_cast<T>(value);
  return true;
}

bool ReadRequired(Json& j, const char* key, std::string& out) {
  const auto it = j.find(key);
  if (it == j.end() || !it->is_string()) return false;
  out = std::move(it->get_ref<std::string&>());
  return true;
}

bool ReadRequired(Json& j, const char* key, bool& out) {
  const auto it = j.find(key);
  if (it == j.end() || !it->is_boolean()) return false;
  out = it->get<bool>();
  return true;
}

bool ReadStringArray(Json& j, const char* key, std::vector<std::string>& out) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return true;
  if (!it->is_array()) return false;
  for (Json& item : *it) {
    if (!item.is_string()) return false;
    out.push_back(std::move(item.get_ref<std::string&>()));
  }
  return true;
}

bool ReadErrors(Json& j, std::vector<CallError>& out) {
  const auto it = j.find("errors");
  if (it == j.end() || it->is_null()) return true;
  if (!it->is_array()) return false;
  for (Json& item : *it) {
    if (!item.is_object()) return false;
    CallError error;
    std::optional<std::string> name;
    const auto status = item.find("status");
    if (!ReadRequired(item, "call", error.Call) || status == item.end() || !status->is_number_integer() ||
        !Read(item, "name", name)) {
      return false;
    }
    if (status->is_number_unsigned() &&
        status->get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return false;
    }
    error.Status = status->get<std::int64_t>();
    error.Name = name.value_or("");
    out.push_back(std::move(error));
  }
  return true;
}

// `empty` stands in for an absent object.
bool ReadObject(Json& j, const char* key, Json*& out, Json& empty) {
  const auto it = j.find(key);
  out = &empty;
  if (it == j.end() || it->is_null()) return true;
  if (!it->is_object()) return false;
  out = &*it;
  return true;
}

bool ReadOptionalStringArray(Json& j, const char* key, std::optional<std::vector<std::string>>& out) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return true;
  out.emplace();
  return ReadStringArray(j, key, *out);
}

template <typename Entry, typename Member, std::size_t N>
bool ReadEntries(Json& j, const char* key, std::optional<std::vector<Entry>>& out, const Member (&members)[N],
                 std::size_t count = N) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return true;
  if (!it->is_array()) return false;
  out.emplace();
  for (Json& item : *it) {
    if (!item.is_object()) return false;
    Entry entry;
    for (std::size_t i = 0; i < count; ++i) {
      if (!ReadRequired(item, members[i].Key, entry.*(members[i].Member))) return false;
    }
    out->push_back(std::move(entry));
  }
  return true;
}

bool ReadMove(Json& j, MoveFacts& m) {
  if (const auto skew = j.find("clock_skew_s"); skew != j.end() && !skew->is_null()) {
    if (!skew->is_number()) return false;
    m.ClockSkewS = skew->get<double>();
  }
  Json* registry = nullptr;
  Json empty = Json::object();
  if (!ReadObject(j, "remote_registry", registry, empty)) return false;
  if (const auto it = j.find("remote_registry"); it != j.end() && !it->is_null()) {
    m.RemoteRegistry.emplace();
    if (!ReadRequired(*registry, "state", m.RemoteRegistry->State) ||
        !ReadRequired(*registry, "start_type", m.RemoteRegistry->StartType)) {
      return false;
    }
  }
  return Read(j, "dns_domain", m.DnsDomain) && ReadOptionalStringArray(j, "reboot_pending", m.RebootPending) &&
         ReadEntries(j, "domain_services", m.DomainServices, ServiceMembers) &&
         ReadEntries(j, "local_admins", m.LocalAdmins, AdminMembers) &&
         ReadEntries(j, "profiles", m.Profiles, AdminMembers, ProfileMemberCount) &&
         Read(j, "old_domain", m.OldDomain) && ReadOptionalStringArray(j, "blockers", m.Blockers);
}

std::optional<HostRecord> FromJson(Json& j) {
  if (!j.is_object()) return std::nullopt;
  HostRecord r;
  const auto schema = j.find("schema");
  const auto elapsed = j.find("elapsed_ms");
  const auto exitCode = j.find("exit_code");
  if (schema == j.end() || !schema->is_number_unsigned() || schema->get<std::uint64_t>() != RecordSchema) {
    return std::nullopt;
  }
  if (elapsed == j.end() || !elapsed->is_number_unsigned() ||
      elapsed->get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return std::nullopt;
  }
  if (exitCode == j.end() || !exitCode->is_number_unsigned() || exitCode->get<std::uint64_t>() > ExitCode::Largest) {
    return std::nullopt;
  }
  r.ElapsedMs = elapsed->get<std::int64_t>();
  r.ExitCode = exitCode->get<int>();
  bool ok = ReadRequired(j, "host", r.Host) && ReadRequired(j, "checked_at", r.CheckedAt) &&
            ReadRequired(j, "timed_out", r.TimedOut) && ReadRequired(j, "crashed", r.Crashed);
  for (const TextField& field : TextFields) ok = ok && Read(j, field.Key, r.*field.Member);
  ok = ok && Read(j, "admin_share", r.AdminShare) && ReadNumber(j, "free_bytes", r.FreeBytes);
  ok = ok && ReadStringArray(j, "lines", r.Lines) && ReadErrors(j, r.Errors);
  std::vector<std::string> failed;
  ok = ok && ReadStringArray(j, "failed", failed);  // checked for its type; the names come from exit_code
  Json* os = nullptr;
  Json* smb = nullptr;
  Json noOs = Json::object(), noSmb = Json::object();
  ok = ok && ReadObject(j, "os", os, noOs) && ReadObject(j, "smb", smb, noSmb);
  if (!ok) return std::nullopt;
  for (const OsField& field : OsFields) {
    ok = ok && (field.Text ? Read(*os, field.Key, r.Os.*field.Text) : ReadNumber(*os, field.Key, r.Os.*field.Number));
  }
  ok = ok && Read(*smb, "dialect", r.Smb.Dialect) && Read(*smb, "signing_required", r.Smb.SigningRequired);
  ok = ok && ReadMove(j, r.Move) && Read(j, "site", r.Site);
  if (!ok || r.Host.empty()) return std::nullopt;
  return r;
}

// A record as ToJsonLine writes it, read straight into a HostRecord as the
// line is scanned: a large records file is most of a render's time, and the
// general reader above builds the whole document of each line first. It
// takes only what is unambiguous (each member known, once, of its type) and
// gives up on anything else, unknown and repeated members included; the line
// is then read the general way, which decides as it always has.
class DirectReader {
 public:
  // nullopt: read the line the general way.
  static std::optional<HostRecord> Read(std::string_view line) {
    DirectReader reader;
    if (!Json::sax_parse(line.begin(), line.end(), &reader) || !reader.done_ || reader.record_.Host.empty()) {
      return std::nullopt;
    }
    return std::move(reader.record_);
  }

  // The parser's events: false gives up.
  bool null() {
    switch (expect_) {
      case Expect::Text:
      case Expect::Flag:
      case Expect::Number:
      case Expect::Double:
      case Expect::Object:
      case Expect::Texts:
      case Expect::OptionalTexts:
      case Expect::Errors:
      case Expect::Entries:
      case Expect::ErrorName: return Took();  // a fresh record's members are already empty
      default: return false;
    }
  }
  bool boolean(bool value) {
    if (expect_ == Expect::Flag) {
      *flag_ = value;
    } else if (expect_ == Expect::RequiredFlag) {
      *requiredFlag_ = value;
    } else {
      return false;
    }
    return Took();
  }
  bool number_integer(std::int64_t value) {  // negative: only a status or the skew
    if (expect_ == Expect::Double) {
      record_.Move.ClockSkewS = static_cast<double>(value);
    } else if (expect_ == Expect::Status) {
      record_.Errors.back().Status = value;
    } else {
      return false;
    }
    return Took();
  }
  bool number_unsigned(std::uint64_t value) {
    constexpr auto MaxSigned = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    switch (expect_) {
      case Expect::Schema:
        if (value != RecordSchema) return false;
        break;
      case Expect::Elapsed:
        if (value > MaxSigned) return false;
        record_.ElapsedMs = static_cast<std::int64_t>(value);
        break;
      case Expect::ExitCode:
        if (value > ExitCode::Largest) return false;
        record_.ExitCode = static_cast<int>(value);
        break;
      case Expect::Number:
        if (number32_) {
          if (value > std::numeric_limits<std::uint32_t>::max()) return false;
          *number32_ = static_cast<std::uint32_t>(value);
        } else {
          *number64_ = value;
        }
        break;
      case Expect::Double: record_.Move.ClockSkewS = static_cast<double>(value); break;
      case Expect::Status:
        if (value > MaxSigned) return false;
        record_.Errors.back().Status = static_cast<std::int64_t>(value);
        break;
      default: return false;
    }
    return Took();
  }
  bool number_float(double value, const std::string&) {
    if (expect_ != Expect::Double) return false;
    record_.Move.ClockSkewS = value;
    return Took();
  }
  // Copied, not taken: the scanner's buffer keeps its room for the next text,
  // and the copy has just the room it needs.
  bool string(std::string& value) {
    switch (expect_) {
      case Expect::Text: *text_ = value; return Took();
      case Expect::RequiredText:
      case Expect::ErrorName: *requiredText_ = value; return Took();
      case Expect::InTexts: list_->push_back(value); return true;
      default: return false;
    }
  }
  bool binary(Json::binary_t&) { return false; }
  bool start_object(std::size_t) {
    if (depth_ == 0 && !started_) {
      started_ = true;
      return Enter(Frame::Top);
    }
    MoveFacts& m = record_.Move;
    if (expect_ == Expect::Object) {
      if (object_ == Frame::Registry) m.RemoteRegistry.emplace();
      return Enter(object_);
    }
    if (expect_ == Expect::InErrors) {
      record_.Errors.emplace_back();
      return Enter(Frame::Error);
    }
    if (expect_ != Expect::InEntries) return false;
    if (entries_ == Frame::Service) {
      m.DomainServices->emplace_back();
    } else {
      (entries_ == Frame::Admin ? m.LocalAdmins : m.Profiles)->emplace_back();
    }
    return Enter(entries_);
  }
  bool end_object() {
    const Frame frame = frames_[--depth_];
    const std::uint64_t required = RequiredOf(frame);
    if ((seen_[depth_] & required) != required) return false;
    done_ = depth_ == 0;
    expect_ = frame == Frame::Error                                                         ? Expect::InErrors
              : frame == Frame::Service || frame == Frame::Admin || frame == Frame::Profile ? Expect::InEntries
                                                                                            : Expect::Nothing;
    return true;
  }
  bool start_array(std::size_t) {
    MoveFacts& m = record_.Move;
    switch (expect_) {
      case Expect::Texts: break;
      case Expect::OptionalTexts: list_ = &optionalTexts_->emplace(); break;
      case Expect::Errors: expect_ = Expect::InErrors; return true;
      case Expect::Entries:
        if (entries_ == Frame::Service) {
          m.DomainServices.emplace();
        } else {
          (entries_ == Frame::Admin ? m.LocalAdmins : m.Profiles).emplace();
        }
        expect_ = Expect::InEntries;
        return true;
      default: return false;
    }
    expect_ = Expect::InTexts;
    return true;
  }
  bool end_array() {
    if (expect_ != Expect::InTexts && expect_ != Expect::InErrors && expect_ != Expect::InEntries) return false;
    return Took();
  }
  bool key(std::string& name) {
    const Frame frame = frames_[depth_ - 1];
    const std::vector<std::string_view>& members = Members[static_cast<int>(frame)];
    for (std::size_t i = 0; i < members.size(); ++i) {
      if (members[i] != name) continue;
      const std::uint64_t bit = std::uint64_t{1} << i;
      if (seen_[depth_ - 1] & bit) return false;  // repeated
      seen_[depth_ - 1] |= bit;
      Target(frame, i);
      return true;
    }
    return false;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

 private:
  enum class Frame { Top, Os, Smb, Registry, Error, Service, Admin, Profile, Count };
  enum class Expect {
    Nothing,
    Schema,
    Elapsed,
    ExitCode,
    Text,
    RequiredText,
    Flag,
    RequiredFlag,
    Number,
    Double,
    Object,
    Texts,
    OptionalTexts,
    InTexts,
    Errors,
    InErrors,
    Status,
    ErrorName,
    Entries,
    InEntries
  };
  static constexpr std::size_t MaxDepth = 2;  // a record, an entry of one of its lists

  // The members of each object, in the order ToJson writes them.
  static inline const std::array<std::vector<std::string_view>, static_cast<int>(Frame::Count)> Members = {{
      {"schema",
       "host",
       "checked_at",
       "elapsed_ms",
       "exit_code",
       "failed",
       "timed_out",
       "crashed",
       "address",
       "full_name",
       "netbios_name",
       "domain",
       "product_type",
       "os_version",
       "admin_share",
       "free_bytes",
       "os",
       "errors",
       "smb",
       "clock_skew_s",
       "dns_domain",
       "reboot_pending",
       "remote_registry",
       "domain_services",
       "local_admins",
       "profiles",
       "old_domain",
       "blockers",
       "site",
       "lines"},
      {"CurrentMajorVersionNumber", "CurrentMinorVersionNumber", "CurrentBuildNumber", "UBR", "DisplayVersion",
       "ProductName", "EditionID", "InstallationType", "family"},
      {"dialect", "signing_required"},
      {"state", "start_type"},
      {"call", "status", "name"},
      {"name", "display_name", "account", "start_type", "state"},
      {"sid", "name", "domain", "kind"},
      {"sid", "name", "domain"},
  }};

  // The members an object must have; without one the general reader refuses it.
  static std::uint64_t RequiredOf(Frame frame) {
    switch (frame) {
      case Frame::Top: return 0xDF;  // all up to crashed but failed
      case Frame::Os:
      case Frame::Smb: return 0;
      case Frame::Error: return 0x3;  // call and status
      default: return (std::uint64_t{1} << Members[static_cast<int>(frame)].size()) - 1;
    }
  }

  bool Enter(Frame frame) {
    if (depth_ == MaxDepth) return false;
    frames_[depth_] = frame;
    seen_[depth_++] = 0;
    expect_ = Expect::Nothing;
    return true;
  }
  bool Took() {
    expect_ = Expect::Nothing;
    return true;
  }
  void Text(std::optional<std::string>& text) {
    expect_ = Expect::Text;
    text_ = &text;
  }
  void Required(std::string& text, Expect expect = Expect::RequiredText) {
    expect_ = expect;
    requiredText_ = &text;
  }
  void Flag(std::optional<bool>& flag) {
    expect_ = Expect::Flag;
    flag_ = &flag;
  }
  void Required(bool& flag) {
    expect_ = Expect::RequiredFlag;
    requiredFlag_ = &flag;
  }
  void Number(std::optional<std::uint32_t>* number32, std::optional<std::uint64_t>* number64) {
    expect_ = Expect::Number;
    number32_ = number32;
    number64_ = number64;
  }
  void Expecting(Expect expect, Frame frame) {
    expect_ = expect;
    (expect == Expect::Object ? object_ : entries_) = frame;
  }
  void Texts(Expect expect, std::vector<std::string>* list, std::optional<std::vector<std::string>>* optional) {
    expect_ = expect;
    list_ = list;
    optionalTexts_ = optional;
  }

  void Target(Frame frame, std::size_t member) {
    HostRecord& r = record_;
    MoveFacts& m = r.Move;
    switch (frame) {
      case Frame::Top: return TopTarget(member);
      case Frame::Os: {
        const OsField& field = OsFields[member];
        if (field.Text) return Text(r.Os.*field.Text);
        return Number(&(r.Os.*field.Number), nullptr);
      }
      case Frame::Smb: return member == 0 ? Text(r.Smb.Dialect) : Flag(r.Smb.SigningRequired);
      case Frame::Registry: return Required(member == 0 ? m.RemoteRegistry->State : m.RemoteRegistry->StartType);
      case Frame::Error:
        if (member == 1) {
          expect_ = Expect::Status;
          return;
        }
        return Required(member == 0 ? r.Errors.back().Call : r.Errors.back().Name,
                        member == 0 ? Expect::RequiredText : Expect::ErrorName);
      case Frame::Service: return Required(m.DomainServices->back().*(ServiceMembers[member].Member));
      case Frame::Admin: return Required(m.LocalAdmins->back().*(AdminMembers[member].Member));
      case Frame::Profile: return Required(m.Profiles->back().*(AdminMembers[member].Member));
      case Frame::Count: return;
    }
  }
  void TopTarget(std::size_t member) {
    HostRecord& r = record_;
    MoveFacts& m = r.Move;
    switch (member) {
      case 0: expect_ = Expect::Schema; return;
      case 1: return Required(r.Host);
      case 2: return Required(r.CheckedAt);
      case 3: expect_ = Expect::Elapsed; return;
      case 4: expect_ = Expect::ExitCode; return;
      case 5: return Texts(Expect::Texts, &failed_, nullptr);  // checked for its type; the names come from exit_code
      case 6: return Required(r.TimedOut);
      case 7: return Required(r.Crashed);
      case 8: return Text(r.Address);
      case 9: return Text(r.FullName);
      case 10: return Text(r.NetbiosName);
      case 11: return Text(r.Domain);
      case 12: return Text(r.ProductType);
      case 13: return Text(r.OsVersion);
      case 14: return Flag(r.AdminShare);
      case 15: return Number(nullptr, &r.FreeBytes);
      case 16: return Expecting(Expect::Object, Frame::Os);
      case 17: expect_ = Expect::Errors; return;
      case 18: return Expecting(Expect::Object, Frame::Smb);
      case 19: expect_ = Expect::Double; return;
      case 20: return Text(m.DnsDomain);
      case 21: return Texts(Expect::OptionalTexts, nullptr, &m.RebootPending);
      case 22: return Expecting(Expect::Object, Frame::Registry);
      case 23: return Expecting(Expect::Entries, Frame::Service);
      case 24: return Expecting(Expect::Entries, Frame::Admin);
      case 25: return Expecting(Expect::Entries, Frame::Profile);
      case 26: return Text(m.OldDomain);
      case 27: return Texts(Expect::OptionalTexts, nullptr, &m.Blockers);
      case 28: return Text(r.Site);
      default: return Texts(Expect::Texts, &r.Lines, nullptr);
    }
  }

  HostRecord record_;
  std::array<Frame, MaxDepth> frames_{};
  std::array<std::uint64_t, MaxDepth> seen_{};
  std::size_t depth_ = 0;
  bool started_ = false;
  bool done_ = false;
  Expect expect_ = Expect::Nothing;
  Frame object_ = Frame::Top;
  Frame entries_ = Frame::Top;
  std::optional<std::string>* text_ = nullptr;
  std::string* requiredText_ = nullptr;
  std::optional<bool>* flag_ = nullptr;
  bool* requiredFlag_ = nullptr;
  std::optional<std::uint32_t>* number32_ = nullptr;
  std::optional<std::uint64_t>* number64_ = nullptr;
  std::vector<std::string>* list_ = nullptr;
  std::optional<std::vector<std::string>>* optionalTexts_ = nullptr;
  std::vector<std::string> failed_;
};

// CSV

std::string CsvText(std::string_view text) {
  std::string cell = ValidUtf8(text);
  if (!cell.empty() && std::string_view("=+-@\t\r").find(cell.front()) != std::string_view::npos) {
    cell.insert(0, "'");
  }
  if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
  std::string quoted = "\"";
  for (char c : cell) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string CsvCell(const std::optional<std::string>& value) { return value ? CsvText(*value) : std::string(); }
std::string CsvCell(const std::optional<bool>& value) { return value ? (*value ? "true" : "false") : ""; }
template <typename T>
std::string CsvNumber(const std::optional<T>& value) {
  return value ? std::to_string(*value) : std::string();
}

// The skew as the JSON line writes it.
std::string JsonNumberText(double seconds) {
  MoveFacts m;
  m.ClockSkewS = seconds;
  Json j = Json::object();
  MoveToJson(m, j);
  return j["clock_skew_s"].dump();
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string joined;
  for (const std::string& part : parts) joined += (joined.empty() ? "" : " ") + part;
  return joined;
}

}  // namespace

std::string ToJsonLine(const HostRecord& record) {
  return ToJson(record).dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<HostRecord> ParseJsonLine(std::string_view line) {
  if (line.size() > MaxRecordLineBytes) return std::nullopt;
  // The direct reader gives up at the first nesting a record does not have,
  // so only the document reader needs the depth checked first.
  if (std::optional<HostRecord> record = DirectReader::Read(line)) return record;
  return ParseJsonDocument(line);
}

std::optional<HostRecord> ParseJsonDocument(std::string_view line) {
  if (line.size() > MaxRecordLineBytes || NestedTooDeep(line)) return std::nullopt;
  Json j = Json::parse(line.begin(), line.end(), nullptr, false);
  if (j.is_discarded()) return std::nullopt;
  return FromJson(j);
}

std::string CsvHeader() {
  std::vector<std::string> columns = {
      "schema",  "host",      "checked_at",   "elapsed_ms", "exit_code",    "failed",     "timed_out",   "crashed",
      "address", "full_name", "netbios_name", "domain",     "product_type", "os_version", "admin_share", "free_bytes"};
  for (const OsField& field : OsFields) columns.push_back(std::string("os.") + field.Key);
  for (const char* column : {"errors", "smb.dialect", "smb.signing_required", "clock_skew_s", "reboot_pending",
                             "remote_registry_state", "remote_registry_start_type", "domain_services",
                             "old_domain_admins", "old_domain_profiles", "blockers", "site"}) {
    columns.push_back(column);
  }
  std::string header;
  for (const std::string& column : columns) header += (header.empty() ? "" : ",") + column;
  return header + "\r\n";
}

std::string ToCsvRow(const HostRecord& r) {
  std::vector<std::string> cells = {std::to_string(r.Schema), CsvText(r.Host), CsvText(r.CheckedAt),
                                    std::to_string(r.ElapsedMs), std::to_string(r.ExitCode)};
  std::vector<std::string> failed;
  for (std::string_view name : FailureNames(static_cast<std::uint16_t>(r.ExitCode))) failed.emplace_back(name);
  cells.push_back(Joined(failed));
  cells.push_back(r.TimedOut ? "true" : "false");
  cells.push_back(r.Crashed ? "true" : "false");
  for (const TextField& field : TextFields) cells.push_back(CsvCell(r.*field.Member));
  cells.push_back(CsvCell(r.AdminShare));
  cells.push_back(CsvNumber(r.FreeBytes));
  for (const OsField& field : OsFields) {
    cells.push_back(field.Text ? CsvCell(r.Os.*field.Text) : CsvNumber(r.Os.*field.Number));
  }
  std::vector<std::string> errors;
  for (const CallError& e : r.Errors) {
    errors.push_back(e.Call + ":" + std::to_string(e.Status) + (e.Name.empty() ? "" : ":" + e.Name));
  }
  cells.push_back(CsvText(Joined(errors)));
  cells.push_back(CsvCell(r.Smb.Dialect));
  cells.push_back(CsvCell(r.Smb.SigningRequired));
  const MoveFacts& m = r.Move;
  cells.push_back(m.ClockSkewS ? JsonNumberText(*m.ClockSkewS) : "");
  cells.push_back(m.RebootPending ? CsvText(Joined(*m.RebootPending)) : "");
  cells.push_back(m.RemoteRegistry ? CsvText(m.RemoteRegistry->State) : "");
  cells.push_back(m.RemoteRegistry ? CsvText(m.RemoteRegistry->StartType) : "");
  cells.push_back(m.DomainServices ? std::to_string(m.DomainServices->size()) : "");
  cells.push_back(m.LocalAdmins ? std::to_string(OldDomainAdmins(r)) : "");
  cells.push_back(m.Profiles ? std::to_string(OldDomainProfiles(r)) : "");
  cells.push_back(m.Blockers ? CsvText(Joined(*m.Blockers)) : "");
  cells.push_back(CsvCell(r.Site));
  std::string row;
  for (std::size_t i = 0; i < cells.size(); ++i) row += (i == 0 ? "" : ",") + cells[i];
  return row + "\r\n";
}

}  // namespace quorvex::records
