#include "records/record_io.h"

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
// A member that is absent or null leaves the target empty.
bool Read(const Json& j, const char* key, std::optional<std::string>& out) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return true;
  if (!it->is_string()) return false;
  out = it->get<std::string>();
  return true;
}

bool Read(const Json& j, const char* key, std::optional<bool>& out) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return true;
  if (!it->is_boolean()) return false;
  out = it->get<bool>();
  return true;
}

template <typename T>
bool ReadNumber(const Json& j, const char* key, std::optional<T>& out) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return true;
  if (!it->is_number_unsigned()) return false;  // negative numbers and fractions are not facts
  const auto value = it->get<std::uint64_t>();
  if (value > std::numeric_limits<T>::max()) return false;
  out = static_cast<T>(value);
  return true;
}

bool ReadRequired(const Json& j, const char* key, std::string& out) {
  const auto it = j.find(key);
  if (it == j.end() || !it->is_string()) return false;
  out = it->get<std::string>();
  return true;
}

bool ReadRequired(const Json& j, const char* key, bool& out) {
  const auto it = j.find(key);
  if (it == j.end() || !it->is_boolean()) return false;
  out = it->get<bool>();
  return true;
}

bool ReadStringArray(const Json& j, const char* key, std::vector<std::string>& out) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return true;
  if (!it->is_array()) return false;
  for (const Json& item : *it) {
    if (!item.is_string()) return false;
    out.push_back(item.get<std::string>());
  }
  return true;
}

bool ReadErrors(const Json& j, std::vector<CallError>& out) {
  const auto it = j.find("errors");
  if (it == j.end() || it->is_null()) return true;
  if (!it->is_array()) return false;
  for (const Json& item : *it) {
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

bool ReadObject(const Json& j, const char* key, const Json*& out) {
  static const Json Empty = Json::object();
  const auto it = j.find(key);
  out = &Empty;
  if (it == j.end() || it->is_null()) return true;
  if (!it->is_object()) return false;
  out = &*it;
  return true;
}

bool ReadOptionalStringArray(const Json& j, const char* key, std::optional<std::vector<std::string>>& out) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return true;
  out.emplace();
  return ReadStringArray(j, key, *out);
}

template <typename Entry, typename Member, std::size_t N>
bool ReadEntries(const Json& j, const char* key, std::optional<std::vector<Entry>>& out, const Member (&members)[N],
                 std::size_t count = N) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return true;
  if (!it->is_array()) return false;
  out.emplace();
  for (const Json& item : *it) {
    if (!item.is_object()) return false;
    Entry entry;
    for (std::size_t i = 0; i < count; ++i) {
      if (!ReadRequired(item, members[i].Key, entry.*(members[i].Member))) return false;
    }
    out->push_back(std::move(entry));
  }
  return true;
}

bool ReadMove(const Json& j, MoveFacts& m) {
  if (const auto skew = j.find("clock_skew_s"); skew != j.end() && !skew->is_null()) {
    if (!skew->is_number()) return false;
    m.ClockSkewS = skew->get<double>();
  }
  const Json* registry = nullptr;
  if (!ReadObject(j, "remote_registry", registry)) return false;
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

std::optional<HostRecord> FromJson(const Json& j) {
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
  const Json* os = nullptr;
  const Json* smb = nullptr;
  ok = ok && ReadObject(j, "os", os) && ReadObject(j, "smb", smb);
  if (!ok) return std::nullopt;
  for (const OsField& field : OsFields) {
    ok = ok && (field.Text ? Read(*os, field.Key, r.Os.*field.Text) : ReadNumber(*os, field.Key, r.Os.*field.Number));
  }
  ok = ok && Read(*smb, "dialect", r.Smb.Dialect) && Read(*smb, "signing_required", r.Smb.SigningRequired);
  ok = ok && ReadMove(j, r.Move) && Read(j, "site", r.Site);
  if (!ok || r.Host.empty()) return std::nullopt;
  return r;
}

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
  if (line.size() > MaxRecordLineBytes || NestedTooDeep(line)) return std::nullopt;
  const Json j = Json::parse(line.begin(), line.end(), nullptr, false);
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
