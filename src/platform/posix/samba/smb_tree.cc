#include "platform/posix/samba/smb_tree.h"

#include <sys/uio.h>

#include <map>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "platform/posix/run_clock.h"
#include "platform/posix/samba/little_endian.h"
#include "platform/posix/samba/samba_abi.h"

extern "C" {
#include <core/ntstatus.h>
#include <tevent.h>
}

namespace quorvex::samba {
namespace {

constexpr std::uint16_t CommandCreate = 5;
constexpr std::uint16_t CommandClose = 6;
constexpr std::uint16_t CommandQueryInfo = 16;
constexpr std::uint32_t FlagChained = 0x4;  // this request works on the previous one's handle
constexpr std::uint16_t HeaderSize = 64;
constexpr std::uint16_t CreateReplyBody = 89;
constexpr std::uint16_t CloseReplyBody = 60;
constexpr std::uint16_t QueryInfoReplyBody = 9;
constexpr std::uint16_t SigningRequired = 0x02;  // SMB2_NEGOTIATE_SIGNING_REQUIRED

struct Request {
  std::uint16_t Command;
  WireBytes Fixed;
  WireBytes Dynamic;
  std::uint16_t ReplyBody;
};

class SessionShareTrees : public ShareTrees {
 public:
  SessionShareTrees(const SmbCalls& calls, SessionParts parts, tevent_context* ev, std::chrono::seconds callBound)
      : calls_(calls), parts_(parts), ev_(ev), callBound_(callBound), memory_(NewTalloc()) {}
  SessionShareTrees(const SessionShareTrees&) = delete;
  SessionShareTrees& operator=(const SessionShareTrees&) = delete;

  bool Exists(const SharePath& path) override {
    auto replies = Compound(path, {Open(path.Path), {CommandClose, CloseRelatedBody(), {}, CloseReplyBody}});
    return replies.has_value();
  }

  std::optional<DiskFreeSpace> FreeSpace(const SharePath& path) override {
    auto replies = Compound(path, {Open(path.Path),
                                   {CommandQueryInfo, QueryFsFullSizeBody(), {}, QueryInfoReplyBody},
                                   {CommandClose, CloseRelatedBody(), {}, CloseReplyBody}});
    if (!replies) return std::nullopt;
    // The reply body: size, offset of the data from the header, its length.
    const WireBytes& body = (*replies)[1];
    std::optional<DiskFreeSpace> space;
    if (body.size() >= 8) {
      std::size_t offset = ReadLittleEndian(body.data() + 2, 2);
      std::size_t length = ReadLittleEndian(body.data() + 4, 4);
      if (offset >= HeaderSize && offset - HeaderSize <= body.size() && length <= body.size() - (offset - HeaderSize)) {
        space = DecodeFsFullSize(body.data() + (offset - HeaderSize), length);
      }
    }
    if (!space) status_ = NT_STATUS_V(NT_STATUS_INVALID_NETWORK_RESPONSE);
    return space;
  }

  std::uint32_t LastStatus() const override { return status_; }

  bool Connected() override { return calls_.IsConnected(parts_.Conn); }

 private:
  static Request Open(const std::u16string& path) {
    auto nameBytes = static_cast<std::uint16_t>(path.size() * 2);
    return {CommandCreate, CreateBody(ReadAttributesAccess, nameBytes), CreateName(path), CreateReplyBody};
  }

  smbXcli_tcon* TreeOf(const std::string& server, const std::string& share) {
    std::string key = server + "\\" + share;
    if (auto found = trees_.find(key); found != trees_.end()) return found->second;
    smbXcli_tcon* tcon = calls_.TconCreate(memory_.get());
    if (tcon == nullptr) return Failed(NT_STATUS_NO_MEMORY);
    // The server as the caller named it, which is what Windows sends too.
    std::string unc = "\\\\" + key;
    unsigned timeoutMs = posix::MillisecondsUntil(posix::WaitDeadline(callBound_));
    TallocPtr<> frame = NewTalloc(memory_.get());
    tevent_req* req = timeoutMs == 0 ? nullptr
                                     : calls_.TconSend(frame.get(), ev_, parts_.Conn, timeoutMs, parts_.Session, tcon,
                                                       0, unc.c_str());
    NTSTATUS status = NT_STATUS_IO_TIMEOUT;
    if (req != nullptr) status = tevent_req_poll(req, ev_) ? calls_.TconReceive(req) : NT_STATUS_INTERNAL_ERROR;
    frame.reset();
    if (!NT_STATUS_IS_OK(status)) {
      if (NT_STATUS_EQUAL(status, NT_STATUS_IO_TIMEOUT)) calls_.Disconnect(parts_.Conn, status);
      talloc_free(tcon);
      return Failed(status);
    }
    trees_[key] = tcon;
    return tcon;
  }

  std::nullptr_t Failed(NTSTATUS status) {
    status_ = NT_STATUS_V(status);
    return nullptr;
  }

  // Sends the requests as one compound and returns each reply's body, or
  // null when any of them failed.
  std::optional<std::vector<WireBytes>> Compound(const SharePath& path, const std::vector<Request>& requests) {
    if (!Connected()) {
      Failed(NT_STATUS_CONNECTION_DISCONNECTED);
      return std::nullopt;
    }
    smbXcli_tcon* tcon = TreeOf(Cp437ToUtf8(path.Server), path.Share);
    if (tcon == nullptr) return std::nullopt;
    // Samba takes 0 as no timeout at all: a question with no time left is
    // not asked.
    unsigned timeoutMs = posix::MillisecondsUntil(posix::WaitDeadline(callBound_));
    if (timeoutMs == 0) {
      calls_.Disconnect(parts_.Conn, NT_STATUS_IO_TIMEOUT);
      Failed(NT_STATUS_IO_TIMEOUT);
      return std::nullopt;
    }
    TallocPtr<> frame = NewTalloc(memory_.get());
    tevent_context* ev = ev_;
    std::vector<tevent_req*> pending;
    for (const Request& r : requests) {
      const WireBytes& dynamic = r.Dynamic;
      tevent_req* req =
          calls_.RequestCreate(frame.get(), ev, parts_.Conn, r.Command, pending.empty() ? 0 : FlagChained, 0, timeoutMs,
                               tcon, parts_.Session, r.Fixed.data(), static_cast<std::uint16_t>(r.Fixed.size()),
                               dynamic.empty() ? NoDynamicPart : dynamic.data(),
                               dynamic.empty() ? sizeof NoDynamicPart : static_cast<std::uint32_t>(dynamic.size()), 0);
      if (ev == nullptr || req == nullptr) {
        Failed(NT_STATUS_NO_MEMORY);
        return std::nullopt;
      }
      pending.push_back(req);
    }
    std::optional<std::vector<WireBytes>> replies;
    NTSTATUS submitted = calls_.CompoundSubmit(pending.data(), static_cast<int>(pending.size()));
    if (!NT_STATUS_IS_OK(submitted)) {
      Failed(submitted);
    } else {
      replies.emplace();
      for (std::size_t i = 0; i < pending.size(); ++i) {
        iovec* iov = nullptr;
        ExpectedReply expected{NT_STATUS_OK, requests[i].ReplyBody};
        NTSTATUS status = tevent_req_poll(pending[i], ev)
                              ? calls_.RequestReceive(pending[i], frame.get(), &iov, &expected, 1)
                              : NT_STATUS_INTERNAL_ERROR;
        if (!NT_STATUS_IS_OK(status)) {
          if (NT_STATUS_EQUAL(status, NT_STATUS_IO_TIMEOUT)) calls_.Disconnect(parts_.Conn, status);
          Failed(status);
          replies.reset();
          break;
        }
        WireBytes body;
        for (int part = 1; part <= 2; ++part) {
          const auto* bytes = static_cast<const std::uint8_t*>(iov[part].iov_base);
          body.insert(body.end(), bytes, bytes + iov[part].iov_len);
        }
        replies->push_back(std::move(body));
      }
    }
    return replies;
  }

  const SmbCalls& calls_;
  SessionParts parts_;
  tevent_context* ev_;
  std::chrono::seconds callBound_;
  TallocPtr<> memory_;
  std::map<std::string, smbXcli_tcon*> trees_;
  std::uint32_t status_ = 0;
};

}  // namespace

void EndConnection(void* sessionMemory) {
  const SmbCalls* calls = LoadedSmbCalls();
  if (calls == nullptr) return;
  SessionParts parts = FindSessionParts(sessionMemory);
  if (parts.Conn != nullptr && calls->IsConnected(parts.Conn)) calls->Disconnect(parts.Conn, NT_STATUS_IO_TIMEOUT);
}

SmbConnectionFacts NegotiatedFacts(void* sessionMemory) {
  const SmbCalls* calls = LoadedSmbCalls();
  if (calls == nullptr) return {};
  SessionParts parts = FindSessionParts(sessionMemory);
  if (parts.Conn == nullptr) return {};
  SmbConnectionFacts facts;
  facts.Dialect = DialectOfProtocol(calls->Protocol(parts.Conn));
  // The security mode is SMB2's only where the dialect says the connection is.
  if (facts.Dialect != 0) facts.SigningRequired = (calls->Smb2SecurityMode(parts.Conn) & SigningRequired) != 0;
  return facts;
}

std::unique_ptr<ShareTrees> ShareTrees::Find(void* sessionMemory, tevent_context* ev, std::chrono::seconds callBound) {
  const SmbCalls* calls = LoadedSmbCalls();
  if (calls == nullptr || ev == nullptr) return nullptr;
  SessionParts parts = FindSessionParts(sessionMemory);
  if (parts.Conn == nullptr || parts.Session == nullptr || !parts.Smb2) return nullptr;
  return std::make_unique<SessionShareTrees>(*calls, parts, ev, callBound);
}

}  // namespace quorvex::samba
