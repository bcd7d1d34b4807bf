// Third stage: the host's workstation and server records, each with a retry.
#pragma once

#include <functional>
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
// answered, when given, hears the name as soon as the workstation query
// answered under it: the first sign of a host that can be administered.
Verdict QueryNetInfo(RunEnv& env, const RunSettings& settings, const HostIdentity& identity, NetInfoRecords& records,
                     std::string& uncServerName, const std::function<void(const std::string&)>& answered = {});

// UTF-16 text from a record to ANSI text; null gives empty text.
std::string WideToAnsi(NetManagementService& net, const char16_t* text);

}  // namespace quorvex
