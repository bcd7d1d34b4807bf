// What a worker sends is read by the sweep: any bytes at all must end in a
// record or a broken stream, never in a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "sweep/worker_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  quorvex::records::HostRecord record;
  quorvex::sweep::FrameReader reader;
  quorvex::sweep::RunProgress done;
  // In two pieces, as a pipe may hand them over.
  reader.Feed(bytes.substr(0, size / 2));
  for (std::string_view piece : {bytes.substr(size / 2), std::string_view()}) {
    while (std::optional<quorvex::sweep::Frame> frame = reader.Next()) {
      if (!quorvex::sweep::ApplyFrame(*frame, record, done)) return 0;
    }
    reader.Feed(piece);
  }
  (void)quorvex::sweep::DecodeJobFrame(bytes);
  return 0;
}
