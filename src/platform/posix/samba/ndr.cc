#include "platform/posix/samba/ndr.h"

#include <algorithm>
#include <limits>

#include "platform/posix/samba/little_endian.h"

// Only the standard library may be used here: the fuzz target compiles this
// file on its own.

namespace quorvex::samba {
namespace {

// Referent ids follow the sequence Samba's own marshalling uses, so a stub we
// build compares byte for byte with one it builds.
constexpr std::uint32_t FirstReferent = 0x00020000;

// Registry value types whose bytes are UTF-16 text.
constexpr std::uint32_t RegSz = 1;
constexpr std::uint32_t RegExpandSz = 2;
constexpr std::uint32_t RegMultiSz = 7;

// A reply may end with alignment filler after its WERROR; anything longer
// means we misread the layout or the peer is sending something else.
constexpr std::size_t MaxTrailingPad = 7;

// FILETIME of 1970-01-01, in milliseconds since 1601.
constexpr std::int64_t FileTimeEpochMs = 11644473600000;

class Writer {
 public:
  void U16(std::uint16_t v) {
    Out.push_back(static_cast<std::uint8_t>(v));
    Out.push_back(static_cast<std::uint8_t>(v >> 8));
  }

  // Alignment filler goes in front of a u32 only, never at the end of a stub.
  void U32(std::uint32_t v) {
    while (Out.size() % 4 != 0) Out.push_back(0);
    for (int shift = 0; shift < 32; shift += 8) Out.push_back(static_cast<std::uint8_t>(v >> shift));
  }

  std::uint32_t Referent() {
    std::uint32_t id = FirstReferent + 4 * NextReferent;
    ++NextReferent;
    return id;
  }

  void Handle(const PolicyHandle& h) { Out.insert(Out.end(), h.begin(), h.end()); }

  // A counted winreg string: byte length and size (both with the NUL), a
  // pointer, then the conformant varying array of UTF-16 code units.
  // Returns false when the text cannot be described by a 16-bit byte length.
  bool CountedString(const std::u16string& text) {
    std::size_t chars = text.find(u'\0');
    if (chars == std::u16string::npos) chars = text.size();
    const std::size_t withNul = chars + 1;
    if (withNul * 2 > std::numeric_limits<std::uint16_t>::max()) return false;
    const auto bytes = static_cast<std::uint16_t>(withNul * 2);
    U16(bytes);
    U16(bytes);
    U32(Referent());
    U32(static_cast<std::uint32_t>(withNul));
    U32(0);
    U32(static_cast<std::uint32_t>(withNul));
    for (std::size_t i = 0; i < chars; ++i) U16(text[i]);
    U16(0);
    return true;
  }

  // A winreg_StringBuf offering the host `sizeBytes` to fill: no text yet,
  // but a buffer (an empty conformant varying array), as Samba's own
  // registry client sends it.
  void EmptyStringBuffer(std::uint16_t sizeBytes) {
    U16(0);
    U16(sizeBytes);
    U32(Referent());
    U32(sizeBytes / 2U);
    U32(0);
    U32(0);
  }

  Bytes Out;

 private:
  std::uint32_t NextReferent = 0;
};

// Every read checks the remaining length first; a failed read poisons the
// reader so that a decoder can chain reads and test once at the end.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : Data(data), Size(data ? size : 0) {}

  bool Ok() const { return Good; }
  std::size_t Remaining() const { return Size - Pos; }

  void Fail() { Good = false; }

  bool Need(std::size_t n) {
    if (!Good || n > Size - Pos) Good = false;
    return Good;
  }

  void Align4() {
    const std::size_t pad = (4 - Pos % 4) % 4;
    if (Need(pad)) Pos += pad;
  }

  std::uint16_t U16() {
    if (Pos % 2 != 0 && Need(1)) ++Pos;
    if (!Need(2)) return 0;
    const auto v = static_cast<std::uint16_t>(ReadLittleEndian(Data + Pos, 2));
    Pos += 2;
    return v;
  }

  std::uint32_t U32() {
    Align4();
    if (!Need(4)) return 0;
    const auto v = static_cast<std::uint32_t>(ReadLittleEndian(Data + Pos, 4));
    Pos += 4;
    return v;
  }

  const std::uint8_t* Take(std::size_t n) {
    if (!Need(n)) return nullptr;
    const std::uint8_t* p = Data + Pos;
    Pos += n;
    return p;
  }

  PolicyHandle Handle() {
    PolicyHandle h{};
    if (const std::uint8_t* p = Take(h.size())) {
      for (std::size_t i = 0; i < h.size(); ++i) h[i] = p[i];
    }
    return h;
  }

  // The header of a conformant varying array: max, offset, actual. Returns
  // actual, or fails when the header is inconsistent or `actual` elements of
  // `unit` bytes cannot be present in what is left.
  std::uint32_t ArrayHeader(std::size_t unit) {
    const std::uint32_t max = U32();
    const std::uint32_t offset = U32();
    const std::uint32_t actual = U32();
    if (!Good) return 0;
    if (offset != 0 || actual > max || actual > Remaining() / unit) {
      Good = false;
      return 0;
    }
    return actual;
  }

  // The deferred body of a [string] UTF-16 pointer; the text stops at its
  // first NUL.
  std::u16string Utf16() {
    const std::uint32_t actual = ArrayHeader(2);
    const std::uint8_t* p = Take(std::size_t{actual} * 2);
    if (!p) return {};
    std::u16string text = Utf16FromLittleEndian(p, actual);
    text.resize(std::min(text.size(), text.find(u'\0')));
    return text;
  }

  // The deferred array of a winreg_StringBuf whose byte length and size
  // came before it: its header must say exactly those, halved, as Samba's
  // own unmarshalling demands. The text stops at its first NUL.
  std::u16string StringBufferText(std::uint16_t lengthBytes, std::uint16_t sizeBytes) {
    const std::uint32_t max = U32();
    const std::uint32_t offset = U32();
    const std::uint32_t actual = U32();
    if (!Good) return {};
    if (max != sizeBytes / 2U || offset != 0 || actual != lengthBytes / 2U || actual > max ||
        actual > Remaining() / 2) {
      Good = false;
      return {};
    }
    std::u16string text = Utf16FromLittleEndian(Take(std::size_t{actual} * 2), actual);
    text.resize(std::min(text.size(), text.find(u'\0')));
    return text;
  }

  // The closing WERROR, then nothing but a little zero filler.
  std::uint32_t WError() {
    const std::uint32_t werror = U32();
    if (!Good) return 0;
    if (Remaining() > MaxTrailingPad) {
      Good = false;
      return 0;
    }
    while (Pos < Size) {
      if (Data[Pos++] != 0) Good = false;
    }
    return werror;
  }

 private:
  const std::uint8_t* Data;
  std::size_t Size;
  std::size_t Pos = 0;
  bool Good = true;
};

void ReadDeferred(Reader& in, std::uint32_t referent, OptionalText& field) {
  if (referent != 0) field = in.Utf16();
}

// A winreg_StringBuf: lengths, pointer, and the text when the pointer is
// set. Null for a null pointer.
OptionalText ReadStringBuffer(Reader& in) {
  in.Align4();
  const std::uint16_t length = in.U16();
  const std::uint16_t size = in.U16();
  const std::uint32_t referent = in.U32();
  if (referent == 0) return std::nullopt;
  return in.StringBufferText(length, size);
}

// A NUL-terminated UTF-16 string that starts `offset` bytes into a buffer of
// `size` bytes and must end inside it.
std::optional<std::u16string> TextAt(const std::uint8_t* data, std::size_t size, std::uint32_t offset) {
  if (offset >= size) return std::nullopt;
  std::u16string text;
  for (std::size_t at = offset; at + 1 < size; at += 2) {
    const auto unit = static_cast<char16_t>(ReadLittleEndian(data + at, 2));
    if (unit == u'\0') return text;
    text.push_back(unit);
  }
  return std::nullopt;
}

Bytes EncodeInfoRequest(std::uint32_t level) {
  Writer out;
  out.U32(0);  // null server name: the pipe already names the host
  out.U32(level);
  return std::move(out.Out);
}

// Both information replies: u32 level, a unique pointer to the level's
// record, the record, its strings, WERROR. Only level 102 is understood.
template <class T, class ReadRecord>
std::optional<Reply<T>> DecodeInfoReply(const std::uint8_t* data, std::size_t size, ReadRecord readRecord) {
  Reader in(data, size);
  const std::uint32_t level = in.U32();
  const std::uint32_t referent = in.U32();
  if (!in.Ok() || level != 102) return std::nullopt;
  T record{};
  if (referent != 0) readRecord(in, record);
  Reply<T> reply;
  reply.WError = in.WError();
  if (!in.Ok()) return std::nullopt;
  if (reply.WError == 0) {
    if (referent == 0) return std::nullopt;
    reply.Value = std::move(record);
  }
  return reply;
}

// OpenHKLM, OpenKey and CloseKey all answer a handle and a WERROR.
std::optional<Reply<PolicyHandle>> DecodeHandleReply(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  Reply<PolicyHandle> reply;
  const PolicyHandle handle = in.Handle();
  reply.WError = in.WError();
  if (!in.Ok()) return std::nullopt;
  if (reply.WError == 0) reply.Value = handle;
  return reply;
}

}  // namespace

Bytes EncodeNetWkstaGetInfo(std::uint32_t level) { return EncodeInfoRequest(level); }

std::optional<Reply<WorkstationInfo102>> DecodeNetWkstaGetInfo(const std::uint8_t* data, std::size_t size) {
  return DecodeInfoReply<WorkstationInfo102>(data, size, [](Reader& in, WorkstationInfo102& r) {
    r.PlatformId = in.U32();
    const std::uint32_t computerName = in.U32();
    const std::uint32_t lanGroup = in.U32();
    r.VerMajor = in.U32();
    r.VerMinor = in.U32();
    const std::uint32_t lanRoot = in.U32();
    r.LoggedOnUsers = in.U32();
    ReadDeferred(in, computerName, r.ComputerName);
    ReadDeferred(in, lanGroup, r.LanGroup);
    ReadDeferred(in, lanRoot, r.LanRoot);
  });
}

Bytes EncodeNetSrvGetInfo(std::uint32_t level) { return EncodeInfoRequest(level); }

std::optional<Reply<ServerInfo102>> DecodeNetSrvGetInfo(const std::uint8_t* data, std::size_t size) {
  return DecodeInfoReply<ServerInfo102>(data, size, [](Reader& in, ServerInfo102& r) {
    r.PlatformId = in.U32();
    const std::uint32_t name = in.U32();
    r.VerMajor = in.U32();
    r.VerMinor = in.U32();
    r.Type = in.U32();
    const std::uint32_t comment = in.U32();
    r.Users = in.U32();
    r.Disc = in.U32();
    r.Hidden = in.U32();
    r.Announce = in.U32();
    r.AnnDelta = in.U32();
    r.Licenses = in.U32();
    const std::uint32_t userPath = in.U32();
    ReadDeferred(in, name, r.Name);
    ReadDeferred(in, comment, r.Comment);
    ReadDeferred(in, userPath, r.UserPath);
  });
}

Bytes EncodeOpenHKLM(std::uint32_t accessMask) {
  Writer out;
  out.U32(0);  // null system name
  out.U32(accessMask);
  return std::move(out.Out);
}

std::optional<Reply<PolicyHandle>> DecodeOpenHKLM(const std::uint8_t* data, std::size_t size) {
  return DecodeHandleReply(data, size);
}

Bytes EncodeOpenKey(const PolicyHandle& parent, const std::u16string& path, std::uint32_t accessMask) {
  Writer out;
  out.Handle(parent);
  if (!out.CountedString(path)) return {};
  out.U32(0);  // options
  out.U32(accessMask);
  return std::move(out.Out);
}

std::optional<Reply<PolicyHandle>> DecodeOpenKey(const std::uint8_t* data, std::size_t size) {
  return DecodeHandleReply(data, size);
}

Bytes EncodeQueryValue(const PolicyHandle& key, const std::u16string& valueName, std::uint32_t bufferSize) {
  Writer out;
  out.Handle(key);
  if (!out.CountedString(valueName)) return {};
  out.U32(out.Referent());
  out.U32(0);  // type: filled in by the host
  out.U32(out.Referent());
  out.U32(bufferSize);  // an empty buffer of bufferSize bytes
  out.U32(0);
  out.U32(0);
  out.U32(out.Referent());
  out.U32(bufferSize);  // data_size
  out.U32(out.Referent());
  out.U32(0);  // data_length
  return std::move(out.Out);
}

std::optional<Reply<RegistryValue>> DecodeQueryValue(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const std::uint32_t typeRef = in.U32();
  const std::uint32_t type = typeRef != 0 ? in.U32() : 0;

  const std::uint32_t dataRef = in.U32();
  std::uint32_t actual = 0;
  const std::uint8_t* bytes = nullptr;
  if (dataRef != 0) {
    actual = in.ArrayHeader(1);
    bytes = in.Take(actual);
  }

  const std::uint32_t sizeRef = in.U32();
  if (sizeRef != 0) in.U32();  // data_size: only the host's idea of the buffer

  const std::uint32_t lengthRef = in.U32();
  const std::uint32_t length = lengthRef != 0 ? in.U32() : 0;

  Reply<RegistryValue> reply;
  reply.WError = in.WError();
  if (!in.Ok()) return std::nullopt;
  // A failed query (missing value, buffer too small) says nothing usable
  // about the value, whatever its pointers hold.
  if (reply.WError != 0) return reply;

  if (typeRef == 0 || dataRef == 0 || lengthRef == 0) return std::nullopt;
  if (length > actual) return std::nullopt;
  const bool text = type == RegSz || type == RegExpandSz || type == RegMultiSz;
  if (text && length % 2 != 0) return std::nullopt;
  reply.Value.Type = type;
  reply.Value.Data.assign(bytes, bytes + length);
  return reply;
}

Bytes EncodeCloseKey(const PolicyHandle& key) {
  Writer out;
  out.Handle(key);
  return std::move(out.Out);
}

std::optional<Reply<PolicyHandle>> DecodeCloseKey(const std::uint8_t* data, std::size_t size) {
  return DecodeHandleReply(data, size);
}

Bytes EncodeEnumKey(const PolicyHandle& key, std::uint32_t index, std::uint16_t nameBufferBytes) {
  Writer out;
  out.Handle(key);
  out.U32(index);
  out.EmptyStringBuffer(nameBufferBytes);
  // The class: a buffer as large as the name's, so that a key with a class
  // never fails for want of room; a null pointer here is refused by Samba.
  out.U32(out.Referent());
  out.EmptyStringBuffer(nameBufferBytes);
  out.U32(0);  // no last write time asked
  return std::move(out.Out);
}

std::optional<Reply<std::u16string>> DecodeEnumKey(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const OptionalText name = ReadStringBuffer(in);
  if (in.U32() != 0) ReadStringBuffer(in);  // the class
  if (in.U32() != 0) {
    in.U32();  // the last write time, a FILETIME aligned as two u32s
    in.U32();
  }
  Reply<std::u16string> reply;
  reply.WError = in.WError();
  if (!in.Ok()) return std::nullopt;
  if (reply.WError == 0) {
    if (!name) return std::nullopt;
    reply.Value = *name;
  }
  return reply;
}

Bytes EncodeNetRemoteTOD() {
  Writer out;
  out.U32(0);  // null server name: the pipe already names the host
  return std::move(out.Out);
}

std::optional<Reply<TimeOfDay>> DecodeNetRemoteTOD(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const std::uint32_t referent = in.U32();
  TimeOfDay tod;
  if (referent != 0) {
    tod.Elapsed = in.U32();
    tod.Msecs = in.U32();
    tod.Hours = in.U32();
    tod.Mins = in.U32();
    tod.Secs = in.U32();
    tod.Hunds = in.U32();
    tod.Timezone = static_cast<std::int32_t>(in.U32());
    tod.Tinterval = in.U32();
    tod.Day = in.U32();
    tod.Month = in.U32();
    tod.Year = in.U32();
    tod.Weekday = in.U32();
  }
  Reply<TimeOfDay> reply;
  reply.WError = in.WError();
  if (!in.Ok()) return std::nullopt;
  if (reply.WError == 0) {
    if (referent == 0) return std::nullopt;
    reply.Value = tod;
  }
  return reply;
}

std::int64_t UnixMsOf(const TimeOfDay& tod) {
  return std::int64_t{tod.Elapsed} * 1000 + std::int64_t{std::min<std::uint32_t>(tod.Hunds, 99)} * 10;
}

std::int64_t UnixMsOfFileTime(std::uint64_t fileTime) {
  return static_cast<std::int64_t>(fileTime / 10000) - FileTimeEpochMs;
}

std::optional<std::vector<ServiceEntry>> DecodeServiceEntries(const std::uint8_t* data, std::size_t size,
                                                              std::uint32_t count, ServiceRecordLayout layout) {
  const auto recordSize = static_cast<std::size_t>(layout);
  if (data == nullptr) size = 0;
  if (count > size / recordSize) return std::nullopt;
  std::vector<ServiceEntry> entries;
  entries.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* record = data + i * recordSize;
    auto name = TextAt(data, size, static_cast<std::uint32_t>(ReadLittleEndian(record, 4)));
    auto display = TextAt(data, size, static_cast<std::uint32_t>(ReadLittleEndian(record + 4, 4)));
    if (!name || !display) return std::nullopt;
    ServiceEntry entry;
    entry.Name = std::move(*name);
    entry.DisplayName = std::move(*display);
    entry.Type = static_cast<std::uint32_t>(ReadLittleEndian(record + 8, 4));
    entry.State = static_cast<std::uint32_t>(ReadLittleEndian(record + 12, 4));
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace quorvex::samba
