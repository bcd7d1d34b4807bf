#include "core/exit_codes.h"

namespace quorvex {

std::vector<std::string_view> FailureNames(std::uint16_t exitCode) {
  if (exitCode == ExitCode::UsageShown) return {UsageName};
  if (exitCode == ExitCode::InvalidValue) return {InvalidName};
  std::vector<std::string_view> names;
  for (const ExitCodeRow& row : ExitCodeTable) {
    if ((exitCode & row.Code) != 0) names.push_back(row.Name);
  }
  return names;
}

}  // namespace quorvex
