// Where a run's words go: status lines, direct lines and the window title.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace quorvex {

class Output {
 public:
  explicit Output(ConsoleService& console) : console_(console) {}

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
};

}  // namespace quorvex
