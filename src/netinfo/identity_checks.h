// Fourth stage: is it the machine we meant, and in the domain we expect?
#pragma once

#include "core/run_settings.h"
#include "core/stage.h"
#include "host/host_identity.h"
#include "netinfo/net_queries.h"

namespace quorvex {

// Ends the run with 4 on a mismatch (unless /I).
Verdict CheckNetBiosName(RunEnv& env, const RunSettings& settings, const HostIdentity& identity,
                         const NetInfoRecords& records);

// Ends the run with 8 when the host is already in /T or not in /C.
Verdict CheckDomain(RunEnv& env, const RunSettings& settings, const HostIdentity& identity,
                    const NetInfoRecords& records);

}  // namespace quorvex
