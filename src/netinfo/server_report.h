// With /V: what the host told about itself. Never fails.
#pragma once

#include "core/run_settings.h"
#include "core/stage.h"
#include "netinfo/net_queries.h"

namespace quorvex {

void ReportServerDetails(RunEnv& env, const RunSettings& settings, const NetInfoRecords& records);

}  // namespace quorvex
