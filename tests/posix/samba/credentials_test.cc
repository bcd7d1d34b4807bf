#include "platform/posix/samba/credentials.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <krb5.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace quorvex::samba {
namespace {

std::string TempDir() {
  char pattern[] = "/tmp/quorvex-credentials.XXXXXX";
  return mkdtemp(pattern);
}

// A file cache holding one ticket for Administrator@SALES.LAN (or none).
void WriteCache(const std::string& path, const char* server, std::time_t end) {
  krb5_context context = nullptr;
  ASSERT_EQ(krb5_init_context(&context), 0);
  krb5_ccache cache = nullptr;
  krb5_principal client = nullptr;
  ASSERT_EQ(krb5_cc_resolve(context, ("FILE:" + path).c_str(), &cache), 0);
  ASSERT_EQ(krb5_parse_name(context, "Administrator@SALES.LAN", &client), 0);
  ASSERT_EQ(krb5_cc_initialize(context, cache, client), 0);
  if (server != nullptr) {
    krb5_creds creds{};
    creds.client = client;
    ASSERT_EQ(krb5_parse_name(context, server, &creds.server), 0);
    creds.times.authtime = creds.times.starttime = static_cast<krb5_timestamp>(end - 36000);
    creds.times.endtime = static_cast<krb5_timestamp>(end);
    EXPECT_EQ(krb5_cc_store_cred(context, cache, &creds), 0);
    krb5_free_principal(context, creds.server);
  }
  krb5_free_principal(context, client);
  krb5_cc_close(context, cache);
  krb5_free_context(context);
}

TEST(CredentialsTest, TicketUsableOnlyWhenItOutlivesTheRun) {
  const std::time_t now = 1800000000;
  struct Case {
    const char* Name;
    const char* Server;  // null: a cache with no ticket; "-": no file; "": an empty file
    long Left;
    bool Usable;
  };
  const Case cases[] = {
      {"ten hours", "krbtgt/SALES.LAN@SALES.LAN", 36000, true},
      {"just past the reserve", "krbtgt/SALES.LAN@SALES.LAN", TicketReserveSeconds + 1, true},
      {"at the reserve", "krbtgt/SALES.LAN@SALES.LAN", TicketReserveSeconds, false},
      {"four minutes", "krbtgt/SALES.LAN@SALES.LAN", 240, false},
      {"expired", "krbtgt/SALES.LAN@SALES.LAN", -1, false},
      {"a service ticket only", "cifs/pc1.sales.lan@SALES.LAN", 36000, false},
      {"no ticket", nullptr, 0, false},
      {"no file", "-", 0, false},
      {"an empty file", "", 0, false},
  };
  std::string dir = TempDir();
  int n = 0;
  for (const Case& c : cases) {
    std::string path = dir + "/cc" + std::to_string(++n);
    if (c.Server == nullptr || (*c.Server != '-' && *c.Server != '\0')) {
      WriteCache(path, c.Server, now + c.Left);
    } else if (*c.Server == '\0') {
      std::fclose(std::fopen(path.c_str(), "w"));
    }
    EXPECT_EQ(HasUsableTicket("FILE:" + path, now), c.Usable) << c.Name;
    unlink(path.c_str());
  }
  rmdir(dir.c_str());
}

// What a pipe holding `written` yields as a password line, and what is left in it.
std::pair<std::optional<std::string>, std::string> ReadFromPipe(const std::string& written) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  EXPECT_EQ(write(fds[1], written.data(), written.size()), static_cast<ssize_t>(written.size()));
  close(fds[1]);
  std::optional<std::string> line = ReadSecretLine(fds[0]);
  std::string rest;
  char c;
  while (read(fds[0], &c, 1) == 1) rest += c;
  close(fds[0]);
  return {line, rest};
}

TEST(CredentialsTest, SecretLine) {
  struct Case {
    std::string Written;
    std::optional<std::string> Line;
    std::string Rest;
  };
  const Case cases[] = {
      {"s3cret\n", "s3cret", ""},
      {"s3cret\r\n", "s3cret", ""},
      {"s3cret", "s3cret", ""},
      {"with space %\\ \n", "with space %\\ ", ""},
      {"\n", "", ""},
      {"first\nsecond\n", "first", "second\n"},  // the rest stays for its owner
      {"", std::nullopt, ""},
      {std::string(5000, 'x'), std::nullopt, std::string(5000 - 4097, 'x')},
  };
  for (const Case& c : cases) {
    auto [line, rest] = ReadFromPipe(c.Written);
    EXPECT_EQ(line, c.Line) << c.Written.substr(0, 20);
    EXPECT_EQ(rest, c.Rest) << c.Written.substr(0, 20);
  }
}

TEST(CredentialsTest, PasswordFileWinsOverDescriptor) {
  std::string dir = TempDir();
  std::string file = dir + "/password";
  FILE* f = std::fopen(file.c_str(), "w");
  std::fputs("from-file\n", f);
  std::fclose(f);
  int fd = open(file.c_str(), O_RDONLY);
  std::string fdText = std::to_string(fd);
  struct Case {
    const char* File;
    const char* Fd;
    std::optional<std::string> Password;
  };
  const Case cases[] = {
      {nullptr, nullptr, std::nullopt},
      {file.c_str(), nullptr, "from-file"},
      {file.c_str(), "999", "from-file"},
      {"/nonexistent/password", nullptr, ""},  // no fallback to another secret
      {nullptr, fdText.c_str(), "from-file"},
      {nullptr, "3x", ""},
      {"", nullptr, std::nullopt},
  };
  for (const Case& c : cases) {
    c.File != nullptr ? setenv("PASSWD_FILE", c.File, 1) : unsetenv("PASSWD_FILE");
    c.Fd != nullptr ? setenv("PASSWD_FD", c.Fd, 1) : unsetenv("PASSWD_FD");
    lseek(fd, 0, SEEK_SET);
    EXPECT_EQ(PasswordFromFileOrDescriptor(), c.Password)
        << (c.File != nullptr ? c.File : "-") << " " << (c.Fd != nullptr ? c.Fd : "-");
  }
  unsetenv("PASSWD_FILE");
  unsetenv("PASSWD_FD");
  close(fd);
  unlink(file.c_str());
  rmdir(dir.c_str());
}

}  // namespace
}  // namespace quorvex::samba
