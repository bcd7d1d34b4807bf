#include "platform/posix/samba/smb_wire.h"

#include "core/encoding.h"
#include "platform/posix/samba/little_endian.h"
#include "platform/posix/samba/smb_text.h"

namespace quorvex::samba {
namespace {

constexpr std::uint16_t HeaderSize = 64;
constexpr std::uint16_t CreateFixedSize = 56;
constexpr std::uint32_t ImpersonationLevelImpersonation = 2;
constexpr std::uint32_t ShareReadWriteDelete = 7;
constexpr std::uint32_t DispositionOpen = 1;
constexpr std::uint8_t InfoTypeFileSystem = 2;
constexpr std::uint8_t FileFsFullSizeInformation = 7;
constexpr std::uint32_t FsFullSizeBytes = 32;

void Put16(WireBytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}
void Put32(WireBytes& out, std::uint32_t value) {
  Put16(out, static_cast<std::uint16_t>(value));
  Put16(out, static_cast<std::uint16_t>(value >> 16));
}
void Put64(WireBytes& out, std::uint64_t value) {
  Put32(out, static_cast<std::uint32_t>(value));
  Put32(out, static_cast<std::uint32_t>(value >> 32));
}
// The file id that stands for "the handle the previous request opened".
void PutRelatedFileId(WireBytes& out) {
  Put64(out, ~std::uint64_t{0});
  Put64(out, ~std::uint64_t{0});
}

}  // namespace

std::optional<SharePath> SharePathOf(std::string_view cp437Unc) {
  std::optional<UncPath> unc = ParseUncPath(cp437Unc);
  if (!unc || unc->Components.empty()) return std::nullopt;
  SharePath result;
  result.Server = unc->Server;
  result.Share = Cp437ToUtf8(unc->Components.front());
  for (std::size_t i = 1; i < unc->Components.size(); ++i) {
    if (i > 1) result.Path += u'\\';
    result.Path += Cp437ToUtf16(unc->Components[i]);
  }
  return result;
}

WireBytes CreateBody(std::uint32_t desiredAccess, std::uint16_t nameBytes) {
  WireBytes out;
  Put16(out, CreateFixedSize + 1);  // the structure size counts one byte of the name
  out.push_back(0);                 // security flags
  out.push_back(0);                 // no oplock
  Put32(out, ImpersonationLevelImpersonation);
  Put64(out, 0);  // create flags
  Put64(out, 0);  // reserved
  Put32(out, desiredAccess);
  Put32(out, 0);  // file attributes
  Put32(out, ShareReadWriteDelete);
  Put32(out, DispositionOpen);
  Put32(out, 0);  // create options: a file or a directory alike
  Put16(out, HeaderSize + CreateFixedSize);
  Put16(out, nameBytes);
  Put32(out, 0);  // no create contexts
  Put32(out, 0);
  return out;
}

WireBytes CreateName(std::u16string_view path) {
  WireBytes out;
  for (char16_t unit : path) Put16(out, static_cast<std::uint16_t>(unit));
  if (out.empty()) out.push_back(0);
  return out;
}

WireBytes QueryFsFullSizeBody() {
  WireBytes out;
  Put16(out, 41);
  out.push_back(InfoTypeFileSystem);
  out.push_back(FileFsFullSizeInformation);
  Put32(out, FsFullSizeBytes);
  Put16(out, 0);  // no input buffer
  Put16(out, 0);
  Put32(out, 0);
  Put32(out, 0);  // additional information
  Put32(out, 0);  // flags
  PutRelatedFileId(out);
  return out;
}

WireBytes CloseRelatedBody() {
  WireBytes out;
  Put16(out, 24);
  Put16(out, 0);  // no attributes wanted back
  Put32(out, 0);
  PutRelatedFileId(out);
  return out;
}

std::optional<DiskFreeSpace> DecodeFsFullSize(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size < FsFullSizeBytes) return std::nullopt;
  DiskFreeSpace space;
  space.TotalClusters = ReadLittleEndian(data, 8);
  space.FreeClusters = ReadLittleEndian(data + 8, 8);  // available to the caller, quotas applied
  space.SectorsPerCluster = ReadLittleEndian(data + 24, 4);
  space.BytesPerSector = ReadLittleEndian(data + 28, 4);
  return space;
}

}  // namespace quorvex::samba
