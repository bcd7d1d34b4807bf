#include "sweep/worker_protocol.h"

#include <cstring>
#include <vector>

#include "core/smb_dialect.h"
#include "records/os_family.h"

namespace quorvex::sweep {

namespace {

constexpr std::size_t HeaderSize = 5;
constexpr std::uint8_t LastFact = static_cast<std::uint8_t>(Fact::Profile);

void PutNumber(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint64_t GetNumber(std::string_view in, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= std::uint64_t{static_cast<unsigned char>(in[i])} << (8 * i);
  return value;
}

std::string FactPayload(Fact fact, std::string_view rest) {
  std::string payload(1, static_cast<char>(fact));
  payload.append(rest.data(), rest.size());
  return payload;
}

// The job: flags as bits, the number, then each text as length and bytes.
enum JobBit : std::uint8_t {
  SkipFreeSpaceBit = 1,
  IgnoreNameMismatchBit = 2,
  WorkstationOnlyBit = 4,
  AllowNt4Bit = 8,
  PingFirstBit = 16,
  RetryAlternateNameBit = 32,
  VerboseBit = 64,
  MoveFactsBit = 128,
};

void PutText(std::string& out, const std::string& text) {
  PutNumber(out, text.size(), 4);
  out += text;
}

bool GetText(std::string_view& in, std::string& text) {
  if (in.size() < 4) return false;
  const std::uint64_t size = GetNumber(in, 4);
  in.remove_prefix(4);
  if (size > in.size()) return false;
  text.assign(in.data(), static_cast<std::size_t>(size));
  in.remove_prefix(static_cast<std::size_t>(size));
  return true;
}

std::optional<std::string>* TextField(records::HostRecord& record, Fact fact) {
  switch (fact) {
    case Fact::Address: return &record.Address;
    case Fact::FullName: return &record.FullName;
    case Fact::NetBiosName: return &record.NetbiosName;
    case Fact::Domain: return &record.Domain;
    case Fact::ProductType: return &record.ProductType;
    case Fact::OsVersion: return &record.OsVersion;
    case Fact::CurrentBuildNumber: return &record.Os.CurrentBuildNumber;
    case Fact::DisplayVersion: return &record.Os.DisplayVersion;
    // Hosts before DisplayVersion existed name their release here.
    case Fact::ReleaseId: return &record.Os.DisplayVersion;
    case Fact::ProductName: return &record.Os.ProductName;
    case Fact::EditionID: return &record.Os.EditionID;
    case Fact::InstallationType: return &record.Os.InstallationType;
    default: return nullptr;
  }
}

bool IsOsText(Fact fact) { return fact >= Fact::CurrentMajorVersionNumber && fact <= Fact::InstallationType; }

std::optional<std::uint32_t>* DwordField(records::HostRecord& record, Fact fact) {
  switch (fact) {
    case Fact::CurrentMajorVersionNumber: return &record.Os.CurrentMajorVersionNumber;
    case Fact::CurrentMinorVersionNumber: return &record.Os.CurrentMinorVersionNumber;
    case Fact::UBR: return &record.Os.UBR;
    default: return nullptr;
  }
}

}  // namespace

std::string EncodeFrame(EventKind kind, std::string_view payload) {
  std::string frame(1, static_cast<char>(kind));
  PutNumber(frame, payload.size(), 4);
  frame.append(payload.data(), payload.size());
  return frame;
}

void FrameWriter::Send(EventKind kind, std::string_view payload) { send_(context_, EncodeFrame(kind, payload)); }

void FrameWriter::Line(std::string_view line) { Send(EventKind::Line, toUtf8_(line)); }

void FrameWriter::Text(Fact fact, std::string_view value) { Send(EventKind::Text, FactPayload(fact, toUtf8_(value))); }

void FrameWriter::Number(Fact fact, std::uint64_t value) {
  std::string number;
  PutNumber(number, value, 8);
  Send(EventKind::Number, FactPayload(fact, number));
}

void FrameWriter::Flag(Fact fact, bool value) {
  Send(EventKind::Flag, FactPayload(fact, value ? "\1" : std::string_view("\0", 1)));
}

void FrameWriter::FailedCall(std::string_view call, std::int64_t status) {
  std::string payload;
  PutNumber(payload, static_cast<std::uint64_t>(status), 8);
  payload += toUtf8_(call);
  Send(EventKind::FailedCall, payload);
}

void FrameWriter::Item(Fact fact, std::initializer_list<std::string_view> fields) {
  std::string payload(1, static_cast<char>(fact));
  for (std::string_view field : fields) PutText(payload, toUtf8_(field));
  Send(EventKind::Item, payload);
}

void FrameWriter::Checked(std::uint16_t exitCode) {
  std::string payload;
  PutNumber(payload, exitCode, 2);
  Send(EventKind::Checked, payload);
}

void FrameWriter::Done(int exitCode) {
  std::string payload;
  PutNumber(payload, static_cast<std::uint64_t>(exitCode) & 0xFFFF, 2);
  Send(EventKind::Done, payload);
}

std::string EncodeJob(const WorkerJob& job) {
  const RunSettings& s = job.Settings;
  std::uint8_t bits = job.MoveFacts ? MoveFactsBit : 0;
  if (s.SkipFreeSpace) bits |= SkipFreeSpaceBit;
  if (s.IgnoreNameMismatch) bits |= IgnoreNameMismatchBit;
  if (s.WorkstationOnly) bits |= WorkstationOnlyBit;
  if (s.AllowNt4) bits |= AllowNt4Bit;
  if (s.PingFirst) bits |= PingFirstBit;
  if (s.RetryAlternateName) bits |= RetryAlternateNameBit;
  if (s.Verbose) bits |= VerboseBit;
  std::string payload(1, static_cast<char>(bits));
  PutNumber(payload, static_cast<std::uint64_t>(s.RequiredFreeBytes), 8);
  PutText(payload, s.Host);
  PutText(payload, s.CurrentDomain);
  PutText(payload, s.TargetDomain);
  PutText(payload, s.FreeSpaceText);
  return EncodeFrame(EventKind::Job, payload);
}

static std::optional<WorkerJob> DecodeJobPayload(std::string_view payload) {
  if (payload.size() < 9) return std::nullopt;
  WorkerJob job;
  RunSettings& s = job.Settings;
  const auto bits = static_cast<std::uint8_t>(payload[0]);
  job.MoveFacts = bits & MoveFactsBit;
  s.SkipFreeSpace = bits & SkipFreeSpaceBit;
  s.IgnoreNameMismatch = bits & IgnoreNameMismatchBit;
  s.WorkstationOnly = bits & WorkstationOnlyBit;
  s.AllowNt4 = bits & AllowNt4Bit;
  s.PingFirst = bits & PingFirstBit;
  s.RetryAlternateName = bits & RetryAlternateNameBit;
  s.Verbose = bits & VerboseBit;
  s.RequiredFreeBytes = static_cast<std::int64_t>(GetNumber(payload.substr(1), 8));
  payload.remove_prefix(9);
  if (!GetText(payload, s.Host) || !GetText(payload, s.CurrentDomain) || !GetText(payload, s.TargetDomain) ||
      !GetText(payload, s.FreeSpaceText) || !payload.empty()) {
    return std::nullopt;
  }
  return job;
}

std::optional<WorkerJob> DecodeJobFrame(std::string_view bytes) {
  FrameReader reader;
  reader.Feed(bytes);
  std::optional<Frame> frame = reader.Next();
  if (!frame || frame->Kind != EventKind::Job || reader.Partial()) return std::nullopt;
  return DecodeJobPayload(frame->Payload);
}

std::optional<Frame> FrameReader::Next() {
  if (broken_) return std::nullopt;
  const std::string_view rest = std::string_view(buffer_).substr(used_);
  if (rest.size() < HeaderSize) {
    buffer_.erase(0, used_);
    used_ = 0;
    return std::nullopt;
  }
  const std::uint64_t size = GetNumber(rest.substr(1), 4);
  if (size > MaxFramePayload) {
    broken_ = true;
    return std::nullopt;
  }
  if (rest.size() < HeaderSize + size) {
    buffer_.erase(0, used_);
    used_ = 0;
    return std::nullopt;
  }
  Frame frame{static_cast<EventKind>(rest[0]), std::string(rest.substr(HeaderSize, size))};
  used_ += HeaderSize + size;
  if (used_ == buffer_.size()) {
    buffer_.clear();
    used_ = 0;
  }
  return frame;
}

namespace {

// How many fields an item of each list fact has.
std::optional<std::size_t> ItemFields(Fact fact) {
  switch (fact) {
    case Fact::RebootPending: return 1;
    case Fact::RemoteRegistry: return 2;
    case Fact::DomainService: return 5;
    case Fact::LocalAdmin: return 4;
    case Fact::Profile: return 3;
    default: return std::nullopt;
  }
}

template <typename T>
std::vector<T>& Opened(std::optional<std::vector<T>>& list) {
  if (!list) list.emplace();
  return *list;
}

bool ApplyItem(Fact fact, std::string_view p, records::MoveFacts& m) {
  const std::optional<std::size_t> wanted = ItemFields(fact);
  if (!wanted) return false;
  std::vector<std::string> f;
  while (!p.empty()) {
    if (!GetText(p, f.emplace_back())) return false;
  }
  if (f.empty()) {
    if (fact == Fact::RebootPending) Opened(m.RebootPending);
    if (fact == Fact::DomainService) Opened(m.DomainServices);
    if (fact == Fact::LocalAdmin) Opened(m.LocalAdmins);
    if (fact == Fact::Profile) Opened(m.Profiles);
    return fact != Fact::RemoteRegistry;
  }
  if (f.size() != *wanted) return false;
  switch (fact) {
    case Fact::RebootPending: Opened(m.RebootPending).push_back(f[0]); break;
    case Fact::RemoteRegistry: m.RemoteRegistry = records::ServiceState{f[0], f[1]}; break;
    case Fact::DomainService: Opened(m.DomainServices).push_back({f[0], f[1], f[2], f[3], f[4]}); break;
    case Fact::LocalAdmin: Opened(m.LocalAdmins).push_back({f[0], f[1], f[2], f[3]}); break;
    default: Opened(m.Profiles).push_back({f[0], f[1], f[2], {}}); break;
  }
  return true;
}

// "-600.0": a sign, digits, one decimal at most; nothing a worker of this
// build would not send.
std::optional<double> SkewSeconds(std::string_view text) {
  std::size_t i = text.substr(0, 1) == "-" ? 1 : 0;
  const std::size_t digits = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  if (i == digits || i - digits > 12) return std::nullopt;
  if (i < text.size() && (text[i] != '.' || i + 2 != text.size() || text[i + 1] < '0' || text[i + 1] > '9')) {
    return std::nullopt;
  }
  return std::stod(std::string(text));
}

}  // namespace

bool ApplyFrame(const Frame& frame, records::HostRecord& record, RunProgress& progress) {
  const std::string_view p = frame.Payload;
  const bool hasFact = !p.empty() && static_cast<std::uint8_t>(p[0]) <= LastFact;
  const Fact fact = hasFact ? static_cast<Fact>(p[0]) : Fact::Address;
  switch (frame.Kind) {
    case EventKind::Line: record.Lines.emplace_back(p); return true;
    case EventKind::Text: {
      if (hasFact && fact == Fact::ClockSkew) {
        record.Move.ClockSkewS = SkewSeconds(p.substr(1));
        return record.Move.ClockSkewS.has_value();
      }
      if (hasFact && fact == Fact::DnsDomain) {
        record.Move.DnsDomain = std::string(p.substr(1));
        return true;
      }
      if (hasFact && fact == Fact::SmbDialect) {
        // A name outside the table is not from a worker of this build.
        if (!IsSmbDialectText(p.substr(1))) return false;
        record.Smb.Dialect = std::string(p.substr(1));
        return true;
      }
      std::optional<std::string>* field = hasFact ? TextField(record, fact) : nullptr;
      if (field == nullptr) return false;
      if (fact == Fact::ReleaseId && record.Os.DisplayVersion) return true;  // DisplayVersion came first
      // OS values are recorded only as texts a reader can trust.
      *field =
          IsOsText(fact) ? records::RegistryText(p.substr(1)) : std::optional<std::string>(std::string(p.substr(1)));
      return true;
    }
    case EventKind::Number: {
      if (!hasFact || p.size() != 9) return false;
      const std::uint64_t value = GetNumber(p.substr(1), 8);
      if (fact == Fact::FreeBytes) {
        record.FreeBytes = value;
        return true;
      }
      std::optional<std::uint32_t>* field = DwordField(record, fact);
      if (field == nullptr || value > 0xFFFFFFFFu) return false;
      *field = static_cast<std::uint32_t>(value);
      return true;
    }
    case EventKind::Flag:
      if (!hasFact || p.size() != 2 || static_cast<std::uint8_t>(p[1]) > 1) return false;
      if (fact == Fact::AdminShare) {
        record.AdminShare = p[1] == 1;
      } else if (fact == Fact::SmbSigningRequired) {
        record.Smb.SigningRequired = p[1] == 1;
      } else {
        return false;
      }
      return true;
    case EventKind::FailedCall:
      if (p.size() < 8) return false;
      record.Errors.push_back(
          records::CallError{std::string(p.substr(8)), static_cast<std::int64_t>(GetNumber(p, 8)), {}});
      return true;
    case EventKind::Item: return hasFact && ApplyItem(fact, p.substr(1), record.Move);
    case EventKind::Checked:
      if (p.size() != 2 || progress.Checked) return false;
      record.ExitCode = static_cast<int>(GetNumber(p, 2));
      progress.Checked = true;
      return true;
    case EventKind::Done:
      if (p.size() != 2) return false;
      // Past the end of the checks, the code they ended with stands.
      if (progress.Checked && static_cast<int>(GetNumber(p, 2)) != record.ExitCode) return false;
      record.ExitCode = static_cast<int>(GetNumber(p, 2));
      progress.Done = true;
      return true;
    default: return false;
  }
}

}  // namespace quorvex::sweep
