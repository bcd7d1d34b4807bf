#include "core/output.h"

#include <string>

namespace quorvex {

namespace {

constexpr std::string_view LineEnd = "\r\n";

}  // namespace

void Output::PrintStatus(std::string_view line) {
  if (OutputEnabled) PrintDirect(line);
}

void Output::PrintDirect(std::string_view line) {
  std::string bytes(line);
  bytes += LineEnd;
  console_.WriteOutput(bytes);
  findings_.Line(line);
}

void Output::ShowStageTitle(std::string_view hostName, std::string_view heading) {
  std::string title(hostName);
  title += heading;
  console_.SetTitle(title);
}

void Output::Pause(unsigned milliseconds) { console_.Sleep(milliseconds); }

}  // namespace quorvex
