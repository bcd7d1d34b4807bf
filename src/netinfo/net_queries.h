// Third stage: the host's workstation and server records, each with a retry.
#pragma once

#include <memory>
#include <string>

#include "core/run_settings.h"
#include "core/stage.h"
#include "host/host_identity.h"

namespace quorvex {

struct NetInfoRecords {
  std::unique_ptr<WorkstationRecord> Workstation;
  std::unique_ptr<ServerRecord> Server;

  // Workstation record first, then server record.
  void Release();
};

// Fills records and uncServerName ("\\" + the name the host answered under),
// or ends the run with 2. Records obtained stay in `records` either way.
Verdict QueryNetInfo(RunEnv& env, const RunSettings& settings, const HostIdentity& identity, NetInfoRecords& records,
                     std::string& uncServerName);

// UTF-16 text from a record to ANSI text; null gives empty text.
std::string WideToAnsi(NetManagementService& net, const char16_t* text);

}  // namespace quorvex
