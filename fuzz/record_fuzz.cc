// Resume reads back records files that a kill, an editor or anyone else may
// have left in any state: a line is a record or is refused, and a record
// written again reads back the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/encoding.h"
#include "records/record_io.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorvex;
  using namespace quorvex::records;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::optional<HostRecord> record = ParseJsonLine(input);
  // The direct reader takes a line only as the document reader would.
  const std::optional<HostRecord> document = ParseJsonDocument(input);
  if (record.has_value() != document.has_value()) __builtin_trap();
  if (!record) return 0;
  if (ToJsonLine(*record) != ToJsonLine(*document)) __builtin_trap();
  const std::string line = ToJsonLine(*record);
  const std::optional<HostRecord> again = ParseJsonLine(line);
  if (!again || ToJsonLine(*again) != line) __builtin_trap();
  if (!IsValidUtf8(line) || line.find('\n') != std::string::npos || !IsValidUtf8(ToCsvRow(*record))) __builtin_trap();
  return 0;
}
