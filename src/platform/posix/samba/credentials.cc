#include "platform/posix/samba/credentials.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <krb5.h>

#include "platform/posix/samba/samba_abi.h"

namespace quorvex::samba {
namespace {

// Far beyond any password; a descriptor that keeps yielding bytes without a
// line end is not a password source.
constexpr std::size_t LongestSecret = 4096;

class Krb5 {
 public:
  Krb5() {
    if (krb5_init_context(&context_) != 0) context_ = nullptr;
  }
  ~Krb5() {
    if (context_ != nullptr) krb5_free_context(context_);
  }
  Krb5(const Krb5&) = delete;
  Krb5& operator=(const Krb5&) = delete;
  krb5_context Get() const { return context_; }

 private:
  krb5_context context_ = nullptr;
};

bool IsRootTicketGrantingService(krb5_const_principal server) {
  auto text = [](const krb5_data& d) { return std::string(d.data, d.length); };
  return server->length == 2 && text(server->data[0]) == KRB5_TGS_NAME && text(server->data[1]) == text(server->realm);
}

// The full name ("FILE:/tmp/krb5cc_0") of the cache when it holds a usable
// ticket. Samba's own Kerberos library judges a cache by the first
// ticket-granting ticket of a realm for itself, so that one is judged here.
std::optional<std::string> UsableTicketCache(const std::string& cacheName, std::time_t now) {
  Krb5 krb5;
  krb5_context context = krb5.Get();
  if (context == nullptr) return std::nullopt;
  krb5_ccache cache = nullptr;
  krb5_error_code failed =
      cacheName.empty() ? krb5_cc_default(context, &cache) : krb5_cc_resolve(context, cacheName.c_str(), &cache);
  if (failed != 0) return std::nullopt;
  std::optional<std::string> usable;
  krb5_cc_cursor cursor = nullptr;
  if (krb5_cc_start_seq_get(context, cache, &cursor) == 0) {
    krb5_creds creds;
    while (krb5_cc_next_cred(context, cache, &cursor, &creds) == 0) {
      bool decisive = !krb5_is_config_principal(context, creds.server) && IsRootTicketGrantingService(creds.server);
      // The wire holds an unsigned 32-bit time, good beyond 2038.
      auto end = static_cast<std::time_t>(static_cast<std::uint32_t>(creds.times.endtime));
      bool alive = end - now > TicketReserveSeconds;
      krb5_free_cred_contents(context, &creds);
      if (!decisive) continue;
      char* fullName = nullptr;
      if (alive && krb5_cc_get_full_name(context, cache, &fullName) == 0) {
        usable = fullName;
        krb5_free_string(context, fullName);
      }
      break;
    }
    krb5_cc_end_seq_get(context, cache, &cursor);
  }
  krb5_cc_close(context, cache);
  return usable;
}

void SayUnreadable(const char* variable) {
  std::string line = std::string("quorvex: no password could be read from ") + variable + "\n";
  ssize_t ignored = write(2, line.data(), line.size());
  (void)ignored;
}

std::optional<int> DescriptorNumber(const char* text) {
  if (*text == '\0') return std::nullopt;
  long number = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return std::nullopt;
    number = number * 10 + (*p - '0');
    if (number > INT_MAX) return std::nullopt;
  }
  return static_cast<int>(number);
}

}  // namespace

bool HasUsableTicket(const std::string& cacheName, std::time_t now) {
  return UsableTicketCache(cacheName, now).has_value();
}

std::optional<std::string> ReadSecretLine(int fd) {
  std::string line;
  bool sawAnything = false;
  for (;;) {
    char c = 0;
    ssize_t got = read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) {
      if (!sawAnything) return std::nullopt;
      break;
    }
    sawAnything = true;
    if (c == '\n') break;
    if (line.size() == LongestSecret) return std::nullopt;
    line += c;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::optional<std::string> PasswordFromFileOrDescriptor() {
  if (const char* path = std::getenv("PASSWD_FILE"); path != nullptr && *path != '\0') {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    std::optional<std::string> password = fd >= 0 ? ReadSecretLine(fd) : std::nullopt;
    if (fd >= 0) close(fd);
    if (!password) SayUnreadable("PASSWD_FILE");
    return password.value_or("");
  }
  if (const char* text = std::getenv("PASSWD_FD"); text != nullptr && *text != '\0') {
    std::optional<int> fd = DescriptorNumber(text);
    std::optional<std::string> password = fd ? ReadSecretLine(*fd) : std::nullopt;
    if (!password) SayUnreadable("PASSWD_FD");
    return password.value_or("");
  }
  return std::nullopt;
}

cli_credentials* NewCredentials(void* memory, loadparm_context* lp, const Logon& logon,
                                const std::string& workstation) {
  auto fresh = [&]() -> cli_credentials* {
    cli_credentials* creds = cli_credentials_init(memory);
    if (creds == nullptr) return nullptr;
    cli_credentials_set_conf(creds, lp);
    // Without a workstation name the session setup fails with a misleading
    // invalid-parameter status.
    cli_credentials_set_workstation(creds, workstation.c_str(), CRED_SPECIFIED);
    return creds;
  };
  cli_credentials* creds = fresh();
  if (creds == nullptr) return nullptr;

  const char* named = std::getenv("KRB5CCNAME");
  std::optional<std::string> cache = UsableTicketCache(named != nullptr ? named : "", std::time(nullptr));
  if (cache) {
    // The ticket alone, USER and PASSWD unused: a password beside it makes
    // Samba drop the ticket or try a Kerberos logon of its own.
    const char* error = nullptr;
    if (cli_credentials_set_ccache(creds, lp, cache->c_str(), CRED_SPECIFIED, &error) == 0) {
      cli_credentials_set_kerberos_state(creds, CRED_USE_KERBEROS_REQUIRED, CRED_SPECIFIED);
      return creds;
    }
    // A cache the system's Kerberos reads and Samba's does not (a kernel
    // keyring, say): start over with the password.
    talloc_free(creds);
    creds = fresh();
    if (creds == nullptr) return nullptr;
  }

  if (!logon.User.empty()) cli_credentials_set_username(creds, logon.User.c_str(), CRED_SPECIFIED);
  if (!logon.Domain.empty()) cli_credentials_set_domain(creds, logon.Domain.c_str(), CRED_SPECIFIED);
  // An explicit (possibly empty) password: the library never asks for one.
  std::optional<std::string> fromFile = PasswordFromFileOrDescriptor();
  cli_credentials_set_password(creds, fromFile ? fromFile->c_str() : logon.Password.c_str(), CRED_SPECIFIED);
  if (fromFile) fromFile->assign(fromFile->size(), '\0');
  // NTLM only: with a password and Kerberos allowed, Samba would fetch a
  // ticket inside the connect, in the same nested event loop that aborts.
  cli_credentials_set_kerberos_state(creds, CRED_USE_KERBEROS_DISABLED, CRED_SPECIFIED);
  return creds;
}

}  // namespace quorvex::samba
