// Every use of Samba's private interfaces, in one place: declarations its
// installed headers lack or that C++ rejects, the calls found by name in the
// loaded libraries, talloc type names and the layout of private structures.
// All of these may change with any Samba release, so the loaded Samba is
// checked once, when the SMB client starts: a release it was tested with, and
// every call it finds by name present. Otherwise SambaUsable() is false and
// the SMB client does not start; its calls then fail as for a host that
// cannot be reached, never by calling into an unknown layout.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include <talloc.h>

extern "C" {
#include <core/ntstatus.h>
}

struct composite_context;
struct ndr_interface_table;
struct tevent_context;
struct tevent_req;

extern "C" {
// credentials.h declares enums without an underlying type, which C++ rejects;
// these are its declarations of the calls used here.
struct cli_credentials;
struct loadparm_context;
enum credentials_obtained {
  CRED_UNINITIALISED = 0,
  CRED_SMB_CONF,
  CRED_CALLBACK,
  CRED_GUESS_ENV,
  CRED_GUESS_FILE,
  CRED_CALLBACK_RESULT,
  CRED_SPECIFIED
};
enum credentials_use_kerberos {
  CRED_USE_KERBEROS_DISABLED = 0,
  CRED_USE_KERBEROS_DESIRED,
  CRED_USE_KERBEROS_REQUIRED,
};
struct cli_credentials* cli_credentials_init(TALLOC_CTX* mem_ctx);
bool cli_credentials_set_conf(struct cli_credentials* cred, struct loadparm_context* lp_ctx);
bool cli_credentials_set_workstation(struct cli_credentials* cred, const char* val, enum credentials_obtained obtained);
bool cli_credentials_set_domain(struct cli_credentials* cred, const char* val, enum credentials_obtained obtained);
bool cli_credentials_set_username(struct cli_credentials* cred, const char* val, enum credentials_obtained obtained);
bool cli_credentials_set_password(struct cli_credentials* cred, const char* val, enum credentials_obtained obtained);
bool cli_credentials_set_kerberos_state(struct cli_credentials* creds, enum credentials_use_kerberos kerberos_state,
                                        enum credentials_obtained obtained);
int cli_credentials_set_ccache(struct cli_credentials* cred, struct loadparm_context* lp_ctx, const char* name,
                               enum credentials_obtained obtained, const char** error_string);
}

namespace quorvex::samba {

// Talloc memory owned the C++ way; freeing a parent frees its children.
struct TallocFree {
  void operator()(const void* memory) const { talloc_free(const_cast<void*>(memory)); }
};
template <typename T = void>
using TallocPtr = std::unique_ptr<T, TallocFree>;
inline TallocPtr<> NewTalloc(const void* parent = nullptr) { return TallocPtr<>(talloc_new(parent)); }

// The releases this client was tested with: the start of Samba's version text.
inline constexpr std::string_view TestedReleases[] = {"4.17."};

// Whether a Samba of this version, with or without every call found by
// name, can be used.
bool AbiUsable(std::string_view version, bool allCallsResolved);

// The check above for the loaded Samba, made once; false from then on after
// ForceSambaUnusable (the tests' way to take the path of an unknown Samba).
bool SambaUsable();
void ForceSambaUnusable();

// The DCE/RPC interfaces of the pipes (libndr-standard exports them without
// a header).
const ndr_interface_table& WorkstationInterface();
const ndr_interface_table& ServerInterface();
const ndr_interface_table& RegistryInterface();
const ndr_interface_table& ServiceControlInterface();
const ndr_interface_table& AccountsInterface();
const ndr_interface_table& PolicyInterface();

// Whether one of Samba's composite connect requests has ended, for good or ill.
bool CompositeFinished(const composite_context* c);
// Has `done` called with `data` from the event loop when the request ends.
void CompositeWhenDone(composite_context* c, void (*done)(composite_context*), void* data);
// The data given to CompositeWhenDone.
void* CompositeData(const composite_context* c);

// Sends Samba's log messages nowhere.
void SilenceSambaLog();

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
  int (*Protocol)(smbXcli_conn*);                    // enum protocol_types, see DialectOfProtocol
  std::uint16_t (*Smb2SecurityMode)(smbXcli_conn*);  // the server's, from its NEGOTIATE response
  std::uint64_t (*ServerSystemTime)(smbXcli_conn*);  // NTTIME from its NEGOTIATE response; 0 when none
};

// The SMB2 dialect revision code (0x0311) of a value of Samba's enum
// protocol_types, which its installed headers lack (libcli/smb/smb_constants.h
// in its tree); 0 for a value that names no SMB2 or SMB3 dialect, or one this
// table does not know. tests/suites/sweep.sh holds every row against smbd
// limited to each dialect in turn.
std::uint16_t DialectOfProtocol(int protocol);

// Null when Samba is not usable.
const SmbCalls* LoadedSmbCalls();

// The pieces of the session the library keeps under the pipe, found by their
// talloc type names: the layout of the structures that hold them is private.
struct SessionParts {
  smbXcli_conn* Conn = nullptr;
  smbXcli_session* Session = nullptr;
  bool Smb2 = false;
};
SessionParts FindSessionParts(const void* sessionMemory);

}  // namespace quorvex::samba
