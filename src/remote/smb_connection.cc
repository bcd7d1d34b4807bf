#include "remote/smb_connection.h"

namespace quorvex {

namespace {

struct DialectRow {
  std::uint16_t Code;
  const char* Text;
};

constexpr DialectRow Dialects[] = {
    {0x0202, "2.0.2"}, {0x0210, "2.1"}, {0x0300, "3.0"}, {0x0302, "3.0.2"}, {0x0311, "3.1.1"},
};

}  // namespace

std::optional<std::string> SmbDialectText(std::uint16_t dialect) {
  for (const DialectRow& row : Dialects) {
    if (row.Code == dialect) return row.Text;
  }
  return std::nullopt;
}

void ReportSmbConnection(RunEnv& env, const std::string& uncServerName) {
  if (!env.Findings.WantsSmbFacts()) return;
  const SmbConnectionFacts facts = env.System.Files.ConnectionFacts(uncServerName);
  if (const std::optional<std::string> text = SmbDialectText(facts.Dialect)) env.Findings.Text(Fact::SmbDialect, *text);
  if (facts.SigningRequired) env.Findings.Flag(Fact::SmbSigningRequired, *facts.SigningRequired);
}

}  // namespace quorvex
