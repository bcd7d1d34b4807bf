// What a worker process runs for its host: the single tool's checks from the
// identification on, heard through a sink that sends every line and fact to
// the sweep instead of a console.
#pragma once

#include "platform/worker_process.h"

namespace quorvex::sweep {

void CheckHostInWorker(const RunSettings& settings, WorkerSend send, void* context);

}  // namespace quorvex::sweep
