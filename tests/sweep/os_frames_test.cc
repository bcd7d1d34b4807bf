// The OS values a worker reads beyond CurrentVersion, as the sweep records
// them: a host's registry is untrusted, so a text that is overlong or holds
// a control character becomes null, and a number is a DWORD or nonsense.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "sweep/worker_protocol.h"

namespace quorvex::sweep {
namespace {

std::string FactFrame(EventKind kind, Fact fact, const std::string& rest) {
  return EncodeFrame(kind, std::string(1, static_cast<char>(fact)) + rest);
}

std::string Dword(std::uint64_t value) {
  std::string bytes;
  for (int i = 0; i < 8; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

bool Apply(const std::string& bytes, records::HostRecord& record) {
  FrameReader reader;
  reader.Feed(bytes);
  RunProgress done;
  while (std::optional<Frame> frame = reader.Next()) {
    if (!ApplyFrame(*frame, record, done)) return false;
  }
  return !reader.Broken() && !reader.Partial();
}

TEST(WorkerOsFrames, EachValueLandsUnderItsNameOrNull) {
  records::HostRecord r;
  ASSERT_TRUE(Apply(FactFrame(EventKind::Number, Fact::CurrentMajorVersionNumber, Dword(10)) +
                        FactFrame(EventKind::Number, Fact::CurrentMinorVersionNumber, Dword(0)) +
                        FactFrame(EventKind::Text, Fact::CurrentBuildNumber, "22631") +
                        FactFrame(EventKind::Number, Fact::UBR, Dword(4460)) +
                        FactFrame(EventKind::Text, Fact::DisplayVersion, "23H2") +
                        FactFrame(EventKind::Text, Fact::ProductName, "Windows 10 Pro\x1b[2J") +
                        FactFrame(EventKind::Text, Fact::EditionID, std::string(300, 'E')) +
                        FactFrame(EventKind::Text, Fact::InstallationType, "Client"),
                    r));
  EXPECT_EQ(r.Os.CurrentMajorVersionNumber, 10u);
  EXPECT_EQ(r.Os.CurrentMinorVersionNumber, 0u);
  EXPECT_EQ(r.Os.CurrentBuildNumber, "22631");
  EXPECT_EQ(r.Os.UBR, 4460u);
  EXPECT_EQ(r.Os.DisplayVersion, "23H2");
  EXPECT_EQ(r.Os.ProductName, std::nullopt);  // a control character
  EXPECT_EQ(r.Os.EditionID, std::nullopt);    // overlong
  EXPECT_EQ(r.Os.InstallationType, "Client");

  const struct {
    const char* Name;
    std::string Bytes;
  } nonsense[] = {
      {"a number wider than a DWORD", FactFrame(EventKind::Number, Fact::UBR, Dword(1ull << 32))},
      {"a number for a text value", FactFrame(EventKind::Number, Fact::CurrentBuildNumber, Dword(22631))},
      {"a text for a number value", FactFrame(EventKind::Text, Fact::CurrentMajorVersionNumber, "10")},
  };
  for (const auto& c : nonsense) {
    records::HostRecord broken;
    EXPECT_FALSE(Apply(c.Bytes, broken)) << c.Name;
  }
}

// The SMB facts are a dialect name the worker knows and a flag; anything
// else breaks the stream, and an OS text rule never touches them.
TEST(WorkerSmbFrames, DialectAndSigningOrABrokenStream) {
  const std::string yes(1, '\1');
  const std::string no(1, '\0');
  const struct {
    const char* Name;
    std::string Bytes;
    bool Applies;
    std::optional<std::string> Dialect;
    std::optional<bool> Signing;
  } cases[] = {
      {"3.1.1, signing required",
       FactFrame(EventKind::Text, Fact::SmbDialect, "3.1.1") +
           FactFrame(EventKind::Flag, Fact::SmbSigningRequired, yes),
       true, "3.1.1", true},
      {"2.0.2, signing not required",
       FactFrame(EventKind::Text, Fact::SmbDialect, "2.0.2") + FactFrame(EventKind::Flag, Fact::SmbSigningRequired, no),
       true, "2.0.2", false},
      {"no facts", "", true, std::nullopt, std::nullopt},
      {"a dialect no worker names", FactFrame(EventKind::Text, Fact::SmbDialect, "1.0"), false, {}, {}},
      {"a dialect with a control character", FactFrame(EventKind::Text, Fact::SmbDialect, "3.1.1\n"), false, {}, {}},
      {"a flag neither 0 nor 1", FactFrame(EventKind::Flag, Fact::SmbSigningRequired, "\2"), false, {}, {}},
      {"a number for the signing flag",
       FactFrame(EventKind::Number, Fact::SmbSigningRequired, Dword(1)),
       false,
       {},
       {}},
      {"a flag for an OS value", FactFrame(EventKind::Flag, Fact::ProductName, yes), false, {}, {}},
      {"a fact beyond the last", EncodeFrame(EventKind::Flag, std::string(1, '\x7f') + yes), false, {}, {}},
  };
  for (const auto& c : cases) {
    records::HostRecord r;
    EXPECT_EQ(Apply(c.Bytes, r), c.Applies) << c.Name;
    if (!c.Applies) continue;
    EXPECT_EQ(r.Smb.Dialect, c.Dialect) << c.Name;
    EXPECT_EQ(r.Smb.SigningRequired, c.Signing) << c.Name;
  }
}

}  // namespace
}  // namespace quorvex::sweep
