// A host list is whatever file an administrator points the sweep at: any
// bytes must give a clean refusal or entries that cannot add a switch.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/encoding.h"
#include "records/host_key.h"
#include "sweep/host_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorvex::sweep;
  HostList list;
  const std::string error = ReadHostList(std::string_view(reinterpret_cast<const char*>(data), size), list);
  if (!error.empty() != list.Entries.empty()) __builtin_trap();
  for (const HostEntry& entry : list.Entries) {
    if (entry.RunHost.empty() == !entry.Refusal) __builtin_trap();
    if (!quorvex::IsValidUtf8(entry.Listed) || entry.Key != quorvex::records::HostKey(entry.Listed)) __builtin_trap();
    for (char c : entry.RunHost) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F ||
          std::string_view(" ,/\"").find(c) != std::string_view::npos) {
        __builtin_trap();
      }
    }
  }
  return 0;
}
