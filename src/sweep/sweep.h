// One sweep from start to end: lock the records, read the list, open the
// records, check every host not yet recorded, close the records.
#pragma once

#include <vector>

#include "core/run_settings.h"
#include "records/host_record.h"
#include "sweep/options.h"

namespace quorvex::sweep {

struct SweepResult {
  int ExitCode = 0;  // SweepExitCode
  // Whether the fleet report may be made from Records: the records are all
  // kept (none failed to be written) and the sweep got as far as the pool.
  bool Reportable = false;
  std::vector<records::HostRecord> Records;  // one a host, file order, when Reportable
};

// `shared` holds the single tool's switches, validated. Everything it has to
// say goes to standard output (host lines, summary) and standard error.
SweepResult Sweep(const SweepOptions& options, const RunSettings& shared);

}  // namespace quorvex::sweep
