// Where a run's words go: status lines, direct lines and the window title.
#pragma once

#include <string>
#include <string_view>

#include "core/findings.h"
#include "core/platform.h"

namespace quorvex {

class Output {
 public:
  explicit Output(ConsoleService& console) : console_(console), findings_(noFindings_) {}
  // Every line written is also told to `findings`.
  Output(ConsoleService& console, FindingsSink& findings) : console_(console), findings_(findings) {}

  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  FindingsSink& Findings() { return findings_; }

  // On at the start of a run; /Q switches it off. Only PrintStatus reads it.
  bool OutputEnabled = true;

  // A " + ", " - " or " ! " line, ended by CR LF; nothing while quiet.
  void PrintStatus(std::string_view line);
  // Usage text, "ERROR: " lines, unexpected-token lines: printed even when quiet.
  void PrintDirect(std::string_view line);
  // The window title becomes hostName immediately followed by heading.
  void ShowStageTitle(std::string_view hostName, std::string_view heading);
  void Pause(unsigned milliseconds);

 private:
  ConsoleService& console_;
  NoFindings noFindings_;
  FindingsSink& findings_;
};

}  // namespace quorvex
