// Every reply stub comes from the remote host, so every decoder must take any
// byte string without reading outside it. Besides the sanitizers, check the
// one promise callers rely on: nothing decoded is larger than the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/posix/samba/ndr.h"

namespace {

using namespace quorvex::samba;

void Expect(bool ok) {
  if (!ok) std::abort();
}

std::size_t TextUnits(const OptionalText& t) { return t ? t->size() : 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (auto r = DecodeNetWkstaGetInfo(data, size)) {
    const WorkstationInfo102& w = r->Value;
    Expect(2 * (TextUnits(w.ComputerName) + TextUnits(w.LanGroup) + TextUnits(w.LanRoot)) <= size);
    Expect(r->WError == 0 || !w.ComputerName);
  }
  if (auto r = DecodeNetSrvGetInfo(data, size)) {
    const ServerInfo102& s = r->Value;
    Expect(2 * (TextUnits(s.Name) + TextUnits(s.Comment) + TextUnits(s.UserPath)) <= size);
    Expect(r->WError == 0 || !s.Name);
  }
  if (auto r = DecodeQueryValue(data, size)) {
    Expect(r->Value.Data.size() <= size);
    Expect(r->WError == 0 || r->Value.Data.empty());
  }
  for (auto decode : {&DecodeOpenHKLM, &DecodeOpenKey, &DecodeCloseKey}) {
    if (auto r = decode(data, size)) Expect(size >= 24);
  }
  if (auto r = DecodeEnumKey(data, size)) {
    Expect(2 * r->Value.size() <= size);
    Expect(r->WError == 0 || r->Value.empty());
  }
  if (auto r = DecodeNetRemoteTOD(data, size)) Expect(r->WError != 0 || size >= 56);
  // An enumeration buffer: the first byte picks the record count and layout.
  if (size >= 1) {
    const std::uint32_t count = data[0] & 0x3f;
    const auto layout = (data[0] & 0x40) != 0 ? ServiceRecordLayout::StatusProcess : ServiceRecordLayout::Status;
    if (auto entries = DecodeServiceEntries(data + 1, size - 1, count, layout)) {
      Expect(entries->size() == count);
      for (const ServiceEntry& e : *entries) Expect(2 * e.Name.size() < size && 2 * e.DisplayName.size() < size);
    }
  }
  return 0;
}
