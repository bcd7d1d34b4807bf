// What a worker process runs for its host: the single tool's checks from the
// identification on, heard through a sink that sends every line and fact to
// the sweep instead of a console.
#pragma once

#include "core/worker_process.h"

namespace quorvex::sweep {

// The job is EncodeJob's frame; a job that does not decode makes the worker
// end without a word, which the sweep records as crashed.
void CheckHostInWorker(std::string_view job, WorkerSend send, void* context);

}  // namespace quorvex::sweep
