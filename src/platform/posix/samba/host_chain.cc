#include "platform/posix/samba/host_chain.h"

#include "platform/posix/samba/win32_status.h"

namespace quorvex::samba {

HostChain::HostChain(std::string_view firstCall) : memory_(NewTalloc()), call_(firstCall) {}

void HostChain::Failed(const CallFailure& failure) {
  connectionLost_ = failure.NtStatus != NT_STATUS_V(NT_STATUS_IO_TIMEOUT);
  Fail(Win32StatusOf(failure, failure.Step == FailedStep::Call ? Win32::RpcServerUnavailable : Win32::BadNetPath));
}

CallStatus HostChain::Status() const { return ended_ ? status_ : CallStatus{Win32::RpcServerUnavailable, call_}; }

CallChain::Request HostChain::Succeed() {
  ended_ = true;
  status_ = {};
  return {};
}

CallChain::Request HostChain::Fail(std::uint32_t win32Status) {
  ended_ = true;
  status_ = {win32Status, call_};
  return {};
}

}  // namespace quorvex::samba
