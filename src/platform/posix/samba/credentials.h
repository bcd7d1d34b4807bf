// Who Samba's client logs on as: the user's Kerberos ticket when the cache
// holds one that outlives the run, otherwise the user and password from the
// environment (USER, PASSWD, PASSWD_FD, PASSWD_FILE), read the way Samba's own
// command-line clients read them. Nothing here ever prints a password.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "platform/posix/samba/smb_text.h"

struct cli_credentials;
struct loadparm_context;

namespace quorvex::samba {

// Samba replaces a ticket with less than five minutes left by a fresh
// Kerberos logon, and that logon needs an event loop nested in the one the
// connect runs on, which aborts the process. A ticket is used only when it
// has those five minutes left after the longest run (65 s, with /P).
inline constexpr long TicketReserveSeconds = 300 + 65;

// Whether the cache (empty: KRB5CCNAME or the default cache) holds a ticket
// to the ticket-granting service of its principal's own realm that is still
// valid TicketReserveSeconds after now.
bool HasUsableTicket(const std::string& cacheName, std::time_t now);

// The first line of what fd yields, without its line end ("\n", "\r\n"); the
// descriptor is read one byte at a time, so nothing after that line is
// consumed. Null when nothing can be read, or the line is unreasonably long.
std::optional<std::string> ReadSecretLine(int fd);

// The password PASSWD_FILE or PASSWD_FD names, the file winning as with
// Samba's clients; both win over USER and PASSWD. Null when neither is set.
// When the one that is set cannot be read, one line on standard error says
// which (never what it holds) and the password is empty, so the logon fails
// instead of falling back to another secret.
std::optional<std::string> PasswordFromFileOrDescriptor();

// Credentials for every session of the run, owned by memory (a talloc
// context); null when Samba cannot make them.
cli_credentials* NewCredentials(void* memory, loadparm_context* lp, const Logon& logon, const std::string& workstation);

}  // namespace quorvex::samba
