#include "remote/smb_connection.h"

#include "core/smb_dialect.h"

namespace quorvex {

void ReportSmbConnection(RunEnv& env, const std::string& uncServerName) {
  if (!env.Findings.WantsSmbFacts()) return;
  const SmbConnectionFacts facts = env.System.Files.ConnectionFacts(uncServerName);
  if (const std::optional<std::string_view> text = SmbDialectText(facts.Dialect)) {
    env.Findings.Text(Fact::SmbDialect, *text);
  }
  if (facts.SigningRequired) env.Findings.Flag(Fact::SmbSigningRequired, *facts.SigningRequired);
}

}  // namespace quorvex
