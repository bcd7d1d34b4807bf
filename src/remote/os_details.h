// The values beside CurrentVersion that tell which Windows a host really runs
// (CurrentVersion reads 6.3 on every version since Windows 10). Read only for
// a caller that records them; the single tool never asks.
#pragma once

#include "core/findings.h"
#include "core/platform.h"

namespace quorvex {

// Reads every detail value under the open version key and tells each one
// that is present, of the expected type, and plain text where text is
// expected. A value that is absent, of another type, overlong or holding
// control characters is not told at all.
void ReadOsDetails(RegistryKey& versionKey, FindingsSink& findings);

}  // namespace quorvex
