// Records as JSON Lines and CSV: what a host sends comes out as valid text,
// nothing is lost on the way back, and nothing garbled is read as a record.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "records/record_io.h"

namespace quorvex::records {
namespace {

HostRecord FullRecord() {
  HostRecord r;
  r.Host = "pc1.corp.lan";
  r.CheckedAt = "2026-12-07T14:30:00Z";
  r.ElapsedMs = 812;
  r.ExitCode = 144;
  r.Address = "10.0.0.1";
  r.FullName = "pc1.corp.lan";
  r.NetbiosName = "PC1";
  r.Domain = "CORP";
  r.ProductType = "WinNT";
  r.OsVersion = "6.3";
  r.AdminShare = false;
  r.FreeBytes = 18446744073709551615u;
  r.Lines = {" + Host is up.", " - Admin$ share does NOT exist or we have no access to it."};
  r.Os.CurrentMajorVersionNumber = 10;
  r.Os.CurrentBuildNumber = "22631";
  r.Os.UBR = 4460;
  r.Os.DisplayVersion = "23H2";
  r.Os.Family = "Windows 11 23H2";
  r.Errors = {{"NetShareGetInfo", 5, "ERROR_ACCESS_DENIED"}, {"RegConnectRegistry", 3221225506, ""}};
  r.Smb.Dialect = "3.1.1";
  r.Smb.SigningRequired = true;
  MoveFacts& m = r.Move;
  m.ClockSkewS = -612.3;
  m.DnsDomain = "corp.lan";
  m.RebootPending = std::vector<std::string>{"component-servicing", "file-rename"};
  m.RemoteRegistry = ServiceState{"stopped", "disabled"};
  m.DomainServices = std::vector<ServiceEntry>{{"Backup", "Nightly, \"full\"", "CORP\\svc", "automatic", "running"}};
  m.LocalAdmins = std::vector<AccountEntry>{{"S-1-5-21-9-512", "Domain Admins", "CORP", "group"},
                                            {"S-1-5-21-7-1001", "", "", "unknown"}};
  m.Profiles = std::vector<AccountEntry>{};
  m.OldDomain = "CORP";
  m.Blockers = std::vector<std::string>{"clock", "reboot-pending", "remote-registry", "old-domain-services",
                                        "old-domain-admins"};
  r.Site = "Lyon, b\xC3\xA2timent \"A\"";
  return r;
}

void ExpectSame(const HostRecord& a, const HostRecord& b) { EXPECT_EQ(ToJsonLine(a), ToJsonLine(b)); }

TEST(RecordIoTest, RoundTripsEveryFact) {
  HostRecord bare;
  bare.Host = "dead";
  bare.CheckedAt = "2026-12-07T14:30:01Z";
  bare.ExitCode = 2;
  bare.TimedOut = true;
  for (const HostRecord& record : {FullRecord(), bare}) {
    const std::string line = ToJsonLine(record);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const std::optional<HostRecord> back = ParseJsonLine(line);
    ASSERT_TRUE(back.has_value()) << line;
    ExpectSame(*back, record);
  }
  const std::string line = ToJsonLine(bare);
  EXPECT_EQ(line.rfind("{\"schema\":1,\"host\":\"dead\",\"checked_at\":\"2026-12-07T14:30:01Z\",\"elapsed_ms\":0,"
                       "\"exit_code\":2,\"failed\":[\"no-management\"],\"timed_out\":true,\"crashed\":false,",
                       0),
            0u)
      << line;
  EXPECT_NE(line.find("\"address\":null,"), std::string::npos);
  EXPECT_NE(line.find("\"os\":{\"CurrentMajorVersionNumber\":null,"), std::string::npos);
  EXPECT_NE(line.find("\"errors\":[],\"smb\":{\"dialect\":null,\"signing_required\":null},\"clock_skew_s\":null,"
                      "\"dns_domain\":null,\"reboot_pending\":null,\"remote_registry\":null,\"domain_services\":null,"
                      "\"local_admins\":null,\"profiles\":null,\"old_domain\":null,\"blockers\":null,\"site\":null,"
                      "\"lines\":[]}"),
            std::string::npos);
  const std::string full = ToJsonLine(FullRecord());
  EXPECT_NE(full.find("\"clock_skew_s\":-612.3,"), std::string::npos) << full;
  EXPECT_NE(full.find("\"profiles\":[],"), std::string::npos) << full;
  // A record of an older sweep, without the keys of the move's facts and the
  // site, reads with them null.
  std::string older = line.substr(0, line.find(",\"clock_skew_s\"")) + ",\"lines\":[]}";
  const std::optional<HostRecord> old = ParseJsonLine(older);
  ASSERT_TRUE(old.has_value()) << older;
  EXPECT_EQ(ToJsonLine(*old), line);
  EXPECT_NE(ToJsonLine(FullRecord()).find("\"failed\":[\"admin-share\",\"registry\"]"), std::string::npos);
}

TEST(RecordIoTest, HostTextComesOutAsValidUtf8) {
  HostRecord r = FullRecord();
  r.NetbiosName = std::string("P\xFF\xC3", 3);
  r.Domain = std::string("a\0b\x1b[31m\x7f", 9);
  r.Lines = {"\xED\xA0\x80"};  // a surrogate, never valid in UTF-8
  const std::string line = ToJsonLine(r);
  EXPECT_NE(line.find("\"netbios_name\":\"P\xEF\xBF\xBD\xEF\xBF\xBD\""), std::string::npos) << line;
  EXPECT_NE(line.find("\"domain\":\"a\\u0000b\\u001b[31m\x7f\""), std::string::npos) << line;
  const std::optional<HostRecord> back = ParseJsonLine(line);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->Domain, r.Domain);
  EXPECT_EQ(back->Lines[0], "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(RecordIoTest, RefusesWhatIsNotARecord) {
  const std::string good = ToJsonLine(FullRecord());
  auto with = [&](const std::string& from, const std::string& to) {
    std::string line = good;
    const auto at = line.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return line.replace(at, from.size(), to);
  };
  const std::string cases[] = {
      "",
      "null",
      "[1,2]",
      "{}",
      good.substr(0, good.size() - 1),  // torn
      with("\"schema\":1", "\"schema\":2"),
      with("\"host\":\"pc1.corp.lan\"", "\"host\":\"\""),
      with("\"host\":\"pc1.corp.lan\"", "\"host\":7"),
      with("\"exit_code\":144", "\"exit_code\":256"),
      with("\"exit_code\":144", "\"exit_code\":-1"),
      with("\"elapsed_ms\":812", "\"elapsed_ms\":8.5"),
      with("\"timed_out\":false", "\"timed_out\":\"false\""),
      with("\"free_bytes\":18446744073709551615", "\"free_bytes\":18446744073709551616"),
      with("\"free_bytes\":18446744073709551615", "\"free_bytes\":-5"),
      with("\"UBR\":4460", "\"UBR\":4294967296"),
      with("\"os\":{", "\"os\":[{"),
      with("\"lines\":[", "\"lines\":[3,"),
      with("\"errors\":[{", "\"errors\":[{\"status\":\"x\"},{"),
      with("\"address\":\"10.0.0.1\"", "\"address\":\"\xC3\""),  // invalid UTF-8
      with("\"site\":\"", "\"site\":7,\"x\":\""),
      with("\"lines\":[", "\"lines\":[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]],"),
      good + " trailing",
  };
  for (const std::string& line : cases) EXPECT_FALSE(ParseJsonLine(line).has_value()) << line;
  // Unknown keys and a failed list that disagrees are not errors: failed is
  // always recomputed from exit_code.
  const std::optional<HostRecord> back =
      ParseJsonLine(with("\"failed\":[\"admin-share\",\"registry\"]", "\"failed\":[],\"new\":{}"));
  ASSERT_TRUE(back.has_value());
  ExpectSame(*back, FullRecord());
}

// Lines as ToJsonLine writes them are read without building a document;
// whatever a line holds, both readers take or refuse it alike, and alike.
TEST(RecordIoTest, BothReadersAgreeOnEveryLine) {
  HostRecord bare;
  bare.Host = "h";
  const std::string full = ToJsonLine(FullRecord()), empty = ToJsonLine(bare);
  auto with = [](std::string line, const std::string& from, const std::string& to) {
    const auto at = line.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return line.replace(at, from.size(), to);
  };
  const std::string lists =
      with(with(with(full, "\"profiles\":[]", "\"profiles\":null"), "\"errors\":[{", "\"errors\":[{\"name\":null,"),
           ",\"name\":\"ERROR_ACCESS_DENIED\"", "");
  const std::string cases[] = {
      full,
      empty,
      lists,
      with(full, "\"host\":\"pc1.corp.lan\"", "\"host\":\"x\",\"host\":\"pc1.corp.lan\""),  // repeated
      with(full, "\"host\":\"pc1.corp.lan\"", "\"host\":7,\"host\":\"pc1.corp.lan\""),
      with(full, "\"schema\":1,", ""),
      with(full, "\"schema\":1", "\"schema\":1.0"),
      with(full, "\"failed\":[", "\"site\":\"north\",\"failed\":["),  // unknown
      with(full, "\"clock_skew_s\":-612.3", "\"clock_skew_s\":-612"),
      with(full, "\"clock_skew_s\":-612.3", "\"clock_skew_s\":7"),
      with(full, "\"clock_skew_s\":-612.3", "\"clock_skew_s\":\"7\""),
      with(full, "\"status\":5", "\"status\":-5"),
      with(full, "\"status\":5", "\"status\":9223372036854775808"),
      with(full, "\"status\":5", "\"status\":5.5"),
      with(full, ",\"status\":5", ""),
      with(full, "\"remote_registry\":{\"state\":\"stopped\",", "\"remote_registry\":{"),
      with(full, "\"remote_registry\":{\"state\":\"stopped\",\"start_type\":\"disabled\"}", "\"remote_registry\":{}"),
      with(full, "\"remote_registry\":{\"state\":\"stopped\",\"start_type\":\"disabled\"}", "\"remote_registry\":null"),
      with(full, "\"account\":\"CORP\\\\svc\",", ""),
      with(full, "\"kind\":\"group\"", "\"kind\":null"),
      with(full, "\"profiles\":[]",
           "\"profiles\":[{\"sid\":\"S-1\",\"name\":\"a\",\"domain\":\"D\",\"kind\":\"user\"}]"),
      with(full, "\"profiles\":[]", "\"profiles\":[{\"sid\":\"S-1\",\"name\":\"a\",\"domain\":\"D\"}]"),
      with(full, "\"profiles\":[]", "\"profiles\":[null]"),
      with(full, "\"blockers\":[", "\"blockers\":[null,"),
      with(full,
           "\"blockers\":[\"clock\",\"reboot-pending\",\"remote-registry\",\"old-domain-services\",\"old-domain-"
           "admins\"]",
           "\"blockers\":[]"),
      with(full, "\"UBR\":4460", "\"UBR\":4294967295"),
      with(full, "\"UBR\":4460", "\"UBR\":4294967296"),
      with(full, "\"UBR\":4460", "\"UBR\":-1"),
      with(full, "\"os\":{", "\"os\":{\"UBR\":1,"),
      with(full, "\"smb\":{\"dialect\":\"3.1.1\",\"signing_required\":true}", "\"smb\":null"),
      with(full, "\"smb\":{\"dialect\":\"3.1.1\",\"signing_required\":true}", "\"smb\":{}"),
      with(full, "\"admin_share\":false", "\"admin_share\":0"),
      with(full, "\"lines\":[", "\"lines\":null,\"x\":["),
      with(empty, "\"lines\":[]", "\"lines\":null"),
      with(empty, "\"errors\":[]", "\"errors\":{}"),
      with(empty, "\"os\":{", "\"os\":null,\"o\":{"),
      with(empty, "\"host\":\"h\"", "\"host\":\"\""),
      " " + full + " ",
      full + "{}",
      "[" + full + "]",
  };
  for (const std::string& line : cases) {
    const std::optional<HostRecord> direct = ParseJsonLine(line), document = ParseJsonDocument(line);
    ASSERT_EQ(direct.has_value(), document.has_value()) << line;
    if (direct) {
      EXPECT_EQ(ToJsonLine(*direct), ToJsonLine(*document)) << line;
    }
  }
}

TEST(RecordIoTest, WritesCsvThatSpreadsheetsRead) {
  const std::string header = CsvHeader();
  EXPECT_EQ(header.substr(0, 61), "schema,host,checked_at,elapsed_ms,exit_code,failed,timed_out,");
  EXPECT_NE(header.find(",free_bytes,os.CurrentMajorVersionNumber,"), std::string::npos);
  EXPECT_NE(header.find(",os.family,errors,smb.dialect,smb.signing_required,clock_skew_s,reboot_pending,"
                        "remote_registry_state,remote_registry_start_type,domain_services,old_domain_admins,"
                        "old_domain_profiles,blockers,site\r\n"),
            std::string::npos);

  HostRecord r = FullRecord();
  r.Domain = "a,\"b\"\r\nc";
  r.Os.ProductName = "=HYPERLINK(\"x\")";
  const std::string row = ToCsvRow(r);
  EXPECT_EQ(row,
            "1,pc1.corp.lan,2026-12-07T14:30:00Z,812,144,admin-share registry,false,false,10.0.0.1,pc1.corp.lan,"
            "PC1,\"a,\"\"b\"\"\r\nc\",WinNT,6.3,false,18446744073709551615,10,,22631,4460,23H2,"
            "\"'=HYPERLINK(\"\"x\"\")\",,,Windows 11 23H2,"
            "NetShareGetInfo:5:ERROR_ACCESS_DENIED RegConnectRegistry:3221225506,3.1.1,true,"
            "-612.3,component-servicing file-rename,stopped,disabled,1,1,0,"
            "clock reboot-pending remote-registry old-domain-services old-domain-admins,"
            "\"Lyon, b\xC3\xA2timent \"\"A\"\"\"\r\n");
  // Columns line up with the header whatever the record holds.
  HostRecord bare;
  bare.Host = "x";
  const std::string bareRow = ToCsvRow(bare);
  EXPECT_EQ(std::count(bareRow.begin(), bareRow.end(), ','), std::count(header.begin(), header.end(), ','));
}

}  // namespace
}  // namespace quorvex::records
