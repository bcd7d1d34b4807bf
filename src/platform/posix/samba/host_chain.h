// A call chain of the host administration calls (session_pool.h): the
// Win32 call each request stands for, what the chain ended with as the seam
// reports it, and whether the transport rather than the host ended it.
#pragma once

#include <string_view>

#include "core/platform.h"
#include "platform/posix/samba/samba_abi.h"
#include "platform/posix/samba/session_pool.h"

namespace quorvex::samba {

class HostChain : public CallChain {
 public:
  // Names the first request's call: what a chain that never started fails as.
  explicit HostChain(std::string_view firstCall);

  void* ReplyMemory() override { return memory_.get(); }
  // A request that could not be made or did not come back: as a call whose
  // transport failed, a host out of reach before any call, the RPC server's
  // absence after.
  void Failed(const CallFailure& failure) override;

  // 0 once the chain ended well; the failed call's status otherwise, also
  // when the chain never ended.
  CallStatus Status() const;
  // Whether the chain ended because its connection went under it, which
  // another call's failure may have caused: asked again, it may be
  // answered. A request that ran out of time is the host's answer.
  bool ConnectionLost() const { return connectionLost_; }

 protected:
  // The request about to be sent stands for this call.
  void Asking(std::string_view call) { call_ = call; }
  // Ends the chain, well or with the status of the call asked last.
  Request Succeed();
  Request Fail(std::uint32_t win32Status);

 private:
  TallocPtr<> memory_;
  std::string_view call_;
  bool ended_ = false;
  bool connectionLost_ = false;
  CallStatus status_;
};

}  // namespace quorvex::samba
