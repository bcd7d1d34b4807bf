// What passes between the sweep and a worker: the job one way (the settings
// of one host), the run's findings the other way, as frames of
//
//   kind (1 byte)  length (4 bytes, little endian)  payload (length bytes)
//
// so no text is ever split, escaped or parsed as console output. The sweep
// reads what a worker sends as untrusted input: a worker may die mid-frame or
// be something else altogether, and a broken stream only ends that host's
// record, never the sweep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/findings.h"
#include "core/run_settings.h"
#include "records/host_record.h"

namespace quorvex::sweep {

// Larger frames are refused: a status line or a registry text is far shorter.
inline constexpr std::size_t MaxFramePayload = 1 << 20;

enum class EventKind : std::uint8_t {
  Line = 1,        // text
  Text = 2,        // fact (1 byte), text
  Number = 3,      // fact (1 byte), value (8 bytes)
  Flag = 4,        // fact (1 byte), 0 or 1
  FailedCall = 5,  // status (8 bytes), call name
  Done = 6,        // exit code (2 bytes): the run ended and said everything
  Job = 7,         // the settings of the host to check (worker's input)
  Item = 8,        // fact (1 byte), then each field as length (4 bytes) and text
  Checked = 9,     // exit code (2 bytes): the checks are over; facts beyond them follow
};

// A findings sink that writes each finding as a frame through `send`. Texts
// pass through `toUtf8` first: the core's 8-bit text becomes what records hold.
class FrameWriter final : public FindingsSink {
 public:
  using SendBytes = void (*)(void* context, std::string_view bytes);
  using ConvertText = std::string (*)(std::string_view coreText);
  FrameWriter(SendBytes send, void* context, ConvertText toUtf8, bool moveFacts = true)
      : send_(send), context_(context), toUtf8_(toUtf8), moveFacts_(moveFacts) {}

  void Line(std::string_view line) override;
  void Text(Fact fact, std::string_view value) override;
  void Number(Fact fact, std::uint64_t value) override;
  void Flag(Fact fact, bool value) override;
  void FailedCall(std::string_view call, std::int64_t status) override;
  bool WantsOsDetails() const override { return true; }
  bool WantsSmbFacts() const override { return true; }
  bool WantsMoveFacts() const override { return moveFacts_; }
  void Item(Fact fact, std::initializer_list<std::string_view> fields) override;
  void Checked(std::uint16_t exitCode) override;
  void Done(int exitCode);

 private:
  void Send(EventKind kind, std::string_view payload);
  SendBytes send_;
  void* context_;
  ConvertText toUtf8_;
  bool moveFacts_;
};

std::string EncodeFrame(EventKind kind, std::string_view payload);
// The job a worker gets: one Job frame holding the settings of its host.
// What a worker is handed for one host: the single tool's settings, and
// whether to ask what a move trips over after the checks.
struct WorkerJob {
  RunSettings Settings;
  bool MoveFacts = true;
};

std::string EncodeJob(const WorkerJob& job);
// The settings of exactly one whole Job frame; nullopt for anything else.
std::optional<WorkerJob> DecodeJobFrame(std::string_view bytes);

struct Frame {
  EventKind Kind{};
  std::string Payload;
};

// Cuts frames out of a byte stream fed in pieces of any size.
class FrameReader {
 public:
  void Feed(std::string_view bytes) { buffer_.append(bytes.data(), bytes.size()); }
  // The next whole frame; nullopt when more bytes are needed or the stream
  // is broken.
  std::optional<Frame> Next();
  bool Broken() const { return broken_; }
  // Bytes of a frame begun and not finished: the worker died mid-frame.
  bool Partial() const { return !buffer_.empty(); }

 private:
  std::string buffer_;
  std::size_t used_ = 0;
  bool broken_ = false;
};

// How far a worker's run got.
struct RunProgress {
  bool Checked = false;  // the checks are over: the exit code stands
  bool Done = false;     // the run ended and said everything
};

// Applies one frame a worker sent to its host's record; returns false for a
// frame that makes no sense (unknown kind or fact, wrong size), which breaks
// the stream. Checked and Done frames set record.ExitCode and `progress`.
bool ApplyFrame(const Frame& frame, records::HostRecord& record, RunProgress& progress);

}  // namespace quorvex::sweep
