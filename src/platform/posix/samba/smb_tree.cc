#include "platform/posix/samba/smb_tree.h"

#include <dlfcn.h>
#include <sys/uio.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <talloc.h>

#include "platform/posix/cp437.h"
#include "platform/posix/run_clock.h"

extern "C" {
#include <core/ntstatus.h>
#include <tevent.h>
}

namespace quorvex::samba {
namespace {

// Samba's SMB client core (smbXcli) ships no header and versions its symbols
// with the exact package release; the calls are therefore looked up by name
// in the copy that the DCE/RPC library already loaded, which also keeps a
// security update of Samba from breaking the tool at load time.
struct smbXcli_conn;
struct smbXcli_session;
struct smbXcli_tcon;

struct ExpectedReply {
  NTSTATUS Status;
  std::uint16_t BodySize;
};

struct SmbCalls {
  smbXcli_tcon* (*TconCreate)(TALLOC_CTX*);
  tevent_req* (*TconSend)(TALLOC_CTX*, tevent_context*, smbXcli_conn*, std::uint32_t, smbXcli_session*, smbXcli_tcon*,
                          std::uint16_t, const char*);
  NTSTATUS (*TconReceive)(tevent_req*);
  tevent_req* (*RequestCreate)(TALLOC_CTX*, tevent_context*, smbXcli_conn*, std::uint16_t, std::uint32_t, std::uint32_t,
                               std::uint32_t, smbXcli_tcon*, smbXcli_session*, const std::uint8_t*, std::uint16_t,
                               const std::uint8_t*, std::uint32_t, std::uint32_t);
  NTSTATUS (*CompoundSubmit)(tevent_req**, int);
  NTSTATUS (*RequestReceive)(tevent_req*, TALLOC_CTX*, iovec**, const ExpectedReply*, std::size_t);
  bool (*IsConnected)(smbXcli_conn*);
  void (*Disconnect)(smbXcli_conn*, NTSTATUS);
};

template <typename Function>
bool Resolve(Function& target, const char* name) {
  target = reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
  return target != nullptr;
}

const SmbCalls* Calls() {
  static const SmbCalls calls = [] {
    SmbCalls c{};
    bool all = Resolve(c.TconCreate, "smbXcli_tcon_create") && Resolve(c.TconSend, "smb2cli_tcon_send") &&
               Resolve(c.TconReceive, "smb2cli_tcon_recv") && Resolve(c.Disconnect, "smbXcli_conn_disconnect") &&
               Resolve(c.RequestCreate, "smb2cli_req_create") &&
               Resolve(c.CompoundSubmit, "smb2cli_req_compound_submit") &&
               Resolve(c.RequestReceive, "smb2cli_req_recv") && Resolve(c.IsConnected, "smbXcli_conn_is_connected");
    if (!all) c.TconCreate = nullptr;
    return c;
  }();
  return calls.TconCreate != nullptr ? &calls : nullptr;
}

constexpr std::uint16_t CommandCreate = 5;
constexpr std::uint16_t CommandClose = 6;
constexpr std::uint16_t CommandQueryInfo = 16;
constexpr std::uint32_t FlagChained = 0x4;  // this request works on the previous one's handle
constexpr std::uint16_t HeaderSize = 64;
constexpr std::uint16_t CreateReplyBody = 89;
constexpr std::uint16_t CloseReplyBody = 60;
constexpr std::uint16_t QueryInfoReplyBody = 9;

// The pieces of the session the library keeps under the pipe, found by their
// talloc type names: the layout of the structures that hold them is private.
struct SessionParts {
  smbXcli_conn* Conn = nullptr;
  smbXcli_session* Session = nullptr;
  bool Smb2 = false;
};

void Collect(const void* ptr, int, int, int isReference, void* data) {
  if (isReference) return;
  auto* parts = static_cast<SessionParts*>(data);
  const char* name = talloc_get_name(ptr);
  if (std::strcmp(name, "struct smbXcli_conn") == 0 && parts->Conn == nullptr) {
    parts->Conn = static_cast<smbXcli_conn*>(const_cast<void*>(ptr));
  } else if (std::strcmp(name, "struct smbXcli_session") == 0 && parts->Session == nullptr) {
    parts->Session = static_cast<smbXcli_session*>(const_cast<void*>(ptr));
  } else if (std::strcmp(name, "struct smb2_tree") == 0) {
    parts->Smb2 = true;
  }
}

struct Request {
  std::uint16_t Command;
  smb::WireBytes Fixed;
  smb::WireBytes Dynamic;
  std::uint16_t ReplyBody;
};

class SessionShareTrees : public ShareTrees {
 public:
  SessionShareTrees(const SmbCalls& calls, SessionParts parts, tevent_context* ev, std::chrono::seconds callBound)
      : calls_(calls), parts_(parts), ev_(ev), callBound_(callBound), memory_(talloc_new(nullptr)) {}
  ~SessionShareTrees() override { talloc_free(memory_); }
  SessionShareTrees(const SessionShareTrees&) = delete;
  SessionShareTrees& operator=(const SessionShareTrees&) = delete;

  bool Exists(const smb::SharePath& path) override {
    auto replies = Compound(path, {Open(path.Path), {CommandClose, smb::CloseRelatedBody(), {}, CloseReplyBody}});
    return replies.has_value();
  }

  std::optional<DiskFreeSpace> FreeSpace(const smb::SharePath& path) override {
    auto replies = Compound(path, {Open(path.Path),
                                   {CommandQueryInfo, smb::QueryFsFullSizeBody(), {}, QueryInfoReplyBody},
                                   {CommandClose, smb::CloseRelatedBody(), {}, CloseReplyBody}});
    if (!replies) return std::nullopt;
    // The reply body: size, offset of the data from the header, its length.
    const smb::WireBytes& body = (*replies)[1];
    if (body.size() < 8) return std::nullopt;
    std::size_t offset = body[2] | (body[3] << 8);
    std::size_t length = body[4] | (body[5] << 8) | (body[6] << 16) | (static_cast<std::size_t>(body[7]) << 24);
    if (offset < HeaderSize || offset - HeaderSize > body.size() || length > body.size() - (offset - HeaderSize)) {
      return std::nullopt;
    }
    return smb::DecodeFsFullSize(body.data() + (offset - HeaderSize), length);
  }

  bool Connected() override { return calls_.IsConnected(parts_.Conn); }

 private:
  static Request Open(const std::u16string& path) {
    auto nameBytes = static_cast<std::uint16_t>(path.size() * 2);
    return {CommandCreate, smb::CreateBody(smb::ReadAttributesAccess, nameBytes), smb::CreateName(path),
            CreateReplyBody};
  }

  smbXcli_tcon* TreeOf(const std::string& server, const std::string& share) {
    std::string key = server + "\\" + share;
    if (auto found = trees_.find(key); found != trees_.end()) return found->second;
    smbXcli_tcon* tcon = calls_.TconCreate(memory_);
    if (tcon == nullptr) return nullptr;
    // The server as the caller named it, which is what Windows sends too.
    std::string unc = "\\\\" + key;
    unsigned timeoutMs = posix::MillisecondsUntil(posix::WaitDeadline(callBound_));
    TALLOC_CTX* frame = talloc_new(memory_);
    tevent_req* req = timeoutMs == 0
                          ? nullptr
                          : calls_.TconSend(frame, ev_, parts_.Conn, timeoutMs, parts_.Session, tcon, 0, unc.c_str());
    NTSTATUS status = NT_STATUS_IO_TIMEOUT;
    if (req != nullptr) status = tevent_req_poll(req, ev_) ? calls_.TconReceive(req) : NT_STATUS_INTERNAL_ERROR;
    talloc_free(frame);
    if (!NT_STATUS_IS_OK(status)) {
      if (NT_STATUS_EQUAL(status, NT_STATUS_IO_TIMEOUT)) calls_.Disconnect(parts_.Conn, status);
      talloc_free(tcon);
      return nullptr;
    }
    trees_[key] = tcon;
    return tcon;
  }

  // Sends the requests as one compound and returns each reply's body, or
  // null when any of them failed.
  std::optional<std::vector<smb::WireBytes>> Compound(const smb::SharePath& path,
                                                      const std::vector<Request>& requests) {
    if (!Connected()) return std::nullopt;
    smbXcli_tcon* tcon = TreeOf(Cp437ToUtf8(path.Server), path.Share);
    if (tcon == nullptr) return std::nullopt;
    // Samba takes 0 as no timeout at all: a question with no time left is
    // not asked.
    unsigned timeoutMs = posix::MillisecondsUntil(posix::WaitDeadline(callBound_));
    if (timeoutMs == 0) {
      calls_.Disconnect(parts_.Conn, NT_STATUS_IO_TIMEOUT);
      return std::nullopt;
    }
    TALLOC_CTX* frame = talloc_new(memory_);
    tevent_context* ev = ev_;
    std::vector<tevent_req*> pending;
    for (const Request& r : requests) {
      const smb::WireBytes& dynamic = r.Dynamic;
      tevent_req* req = calls_.RequestCreate(
          frame, ev, parts_.Conn, r.Command, pending.empty() ? 0 : FlagChained, 0, timeoutMs, tcon, parts_.Session,
          r.Fixed.data(), static_cast<std::uint16_t>(r.Fixed.size()),
          dynamic.empty() ? smb::NoDynamicPart : dynamic.data(),
          dynamic.empty() ? sizeof smb::NoDynamicPart : static_cast<std::uint32_t>(dynamic.size()), 0);
      if (ev == nullptr || req == nullptr) {
        talloc_free(frame);
        return std::nullopt;
      }
      pending.push_back(req);
    }
    std::optional<std::vector<smb::WireBytes>> replies;
    if (NT_STATUS_IS_OK(calls_.CompoundSubmit(pending.data(), static_cast<int>(pending.size())))) {
      replies.emplace();
      for (std::size_t i = 0; i < pending.size(); ++i) {
        iovec* iov = nullptr;
        ExpectedReply expected{NT_STATUS_OK, requests[i].ReplyBody};
        NTSTATUS status = tevent_req_poll(pending[i], ev) ? calls_.RequestReceive(pending[i], frame, &iov, &expected, 1)
                                                          : NT_STATUS_INTERNAL_ERROR;
        if (!NT_STATUS_IS_OK(status)) {
          if (NT_STATUS_EQUAL(status, NT_STATUS_IO_TIMEOUT)) calls_.Disconnect(parts_.Conn, status);
          replies.reset();
          break;
        }
        smb::WireBytes body;
        for (int part = 1; part <= 2; ++part) {
          const auto* bytes = static_cast<const std::uint8_t*>(iov[part].iov_base);
          body.insert(body.end(), bytes, bytes + iov[part].iov_len);
        }
        replies->push_back(std::move(body));
      }
    }
    talloc_free(frame);
    return replies;
  }

  const SmbCalls& calls_;
  SessionParts parts_;
  tevent_context* ev_;
  std::chrono::seconds callBound_;
  TALLOC_CTX* memory_;
  std::map<std::string, smbXcli_tcon*> trees_;
};

}  // namespace

void EndConnection(void* sessionMemory) {
  const SmbCalls* calls = Calls();
  if (calls == nullptr || sessionMemory == nullptr) return;
  SessionParts parts;
  talloc_report_depth_cb(sessionMemory, 0, -1, &Collect, &parts);
  if (parts.Conn != nullptr && calls->IsConnected(parts.Conn)) calls->Disconnect(parts.Conn, NT_STATUS_IO_TIMEOUT);
}

std::unique_ptr<ShareTrees> ShareTrees::Find(void* sessionMemory, tevent_context* ev, std::chrono::seconds callBound) {
  const SmbCalls* calls = Calls();
  if (calls == nullptr || sessionMemory == nullptr || ev == nullptr) return nullptr;
  SessionParts parts;
  talloc_report_depth_cb(sessionMemory, 0, -1, &Collect, &parts);
  if (parts.Conn == nullptr || parts.Session == nullptr || !parts.Smb2) return nullptr;
  return std::make_unique<SessionShareTrees>(*calls, parts, ev, callBound);
}

}  // namespace quorvex::samba
