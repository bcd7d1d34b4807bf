// Host lists as administrators export them, and the host texts a list must
// never pass to a run.
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "records/host_key.h"
#include "records/record_io.h"
#include "sweep/host_list.h"

namespace quorvex::sweep {
namespace {

std::string Utf16Le(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

std::vector<std::string> Listed(const HostList& list) {
  std::vector<std::string> listed;
  for (const HostEntry& entry : list.Entries) listed.push_back(entry.Listed);
  return listed;
}

TEST(HostListTest, ReadsPlainAndCsvLists) {
  struct Case {
    const char* Name;
    std::string Bytes;
    std::vector<std::string> Expected;
    bool Csv;
    std::size_t Duplicates;
  };
  const Case cases[] = {
      {"plain", "pc1\r\n\r\n# comment\n  ; also\n  pc2  \n\tpc3\rpc4", {"pc1", "pc2", "pc3", "pc4"}, false, 0},
      {"plain, UTF-8 BOM", "\xEF\xBB\xBFpc1\npc2\n", {"pc1", "pc2"}, false, 0},
      {"plain, UTF-16LE", Utf16Le(u"pc1\r\nM\u00fcnchen\r\n"), {"pc1", "M\xC3\xBCnchen"}, false, 0},
      {"plain, UTF-16BE", std::string("\xFE\xFF\0p\0c\0001", 8), {"pc1"}, false, 0},
      {"duplicates after trimming, any case",
       "pc1\n\\\\PC1\n\"pc1\"\npc2\nm\xC3\xBCnchen\nM\xC3\x9CNCHEN\n",
       {"pc1", "pc2", "m\xC3\xBCnchen"},
       false,
       3},
      {"a bare first word is a host, not a header", "Name\npc1\n", {"Name", "pc1"}, false, 0},
      {"PowerShell 5.1 export",
       "#TYPE Selected.Microsoft.ActiveDirectory.Management.ADComputer\r\n"
       "\"DNSHostName\",\"Name\",\"OperatingSystem\"\r\n"
       "\"pc1.corp.lan\",\"PC1\",\"Windows 10 Pro\"\r\n"
       "\"\",\"PC2\",\"Windows, with a comma\"\r\n"
       "\"pc3.corp.lan\",\"PC3\",\"line\r\nbreak \"\"quoted\"\"\"\r\n"
       "\"\",\"\",\"no name at all\"\r\n",
       {"pc1.corp.lan", "PC2", "pc3.corp.lan"},
       true,
       0},
      {"Name only, no #TYPE", "\"Name\"\npc1\n\npc2\n", {"pc1", "pc2"}, true, 0},
      {"ComputerName beats Host, any case", "host,computername\nh1,c1\nh2,\n", {"c1"}, true, 0},
      {"Host column, short rows", "Site,Host\nx,pc1\nx\ny,pc2", {"pc1", "pc2"}, true, 0},
      {"CSV in UTF-16LE", Utf16Le(u"\"Name\",\"Description\"\r\n\"PC1\",\"a, b\"\r\n"), {"PC1"}, true, 0},
      {"header without a host column is plain text", "a,b\npc1\n", {"a,b", "pc1"}, false, 0},
  };
  for (const Case& c : cases) {
    HostList list;
    const std::string error = ReadHostList(c.Bytes, list);
    EXPECT_EQ(error, "") << c.Name;
    EXPECT_EQ(Listed(list), c.Expected) << c.Name;
    EXPECT_EQ(list.Csv, c.Csv) << c.Name;
    EXPECT_EQ(list.Duplicates, c.Duplicates) << c.Name;
  }
}

TEST(HostListTest, TrimsAndUpperCasesAsTheSingleToolDoes) {
  HostList list;
  ASSERT_EQ(ReadHostList("\\\\pc1.corp.lan\\\n\"m\xC3\xA4x\xC3\xA8\"\n10.0.0.1\n", list), "");
  ASSERT_EQ(list.Entries.size(), 3u);
  EXPECT_EQ(list.Entries[0].RunHost, "PC1.CORP.LAN");
  EXPECT_EQ(list.Entries[0].Listed, "\\\\pc1.corp.lan\\");
  // ä has an upper case in code page 437, è has none: it stays as it is.
  EXPECT_EQ(list.Entries[1].RunHost, "M\xC3\x84X\xC3\xA8");
  EXPECT_EQ(list.Entries[2].RunHost, "10.0.0.1");
  EXPECT_EQ(list.Entries[2].LineNumber, 3u);
  EXPECT_EQ(records::HostKey(" \"PC1.corp.LAN\" "), list.Entries[0].Key);
}

TEST(HostListTest, RefusesHostTextsThatCouldAddASwitch) {
  struct Case {
    std::string Line;
    std::string Said;
  };
  const Case cases[] = {
      {"pc1 /T:evil", "a space"},           {"pc1\t/Q", "a tab"},        {"pc1/Q", "a slash"},
      {"\"pc1,pc2\"", "a comma"},           {"pc\"1", "a double quote"}, {"pc\x01", "the control character 0x01"},
      {"\\\\\"\"", "No host name is left"}, {"m\xFCnchen", "not UTF-8"},
  };
  for (const Case& c : cases) {
    HostList list;
    ASSERT_EQ(ReadHostList("ok\n" + c.Line + "\n", list), "");
    ASSERT_EQ(list.Entries.size(), 2u) << c.Line;
    const HostEntry& entry = list.Entries[1];
    ASSERT_TRUE(entry.Refusal.has_value()) << c.Line;
    EXPECT_NE(entry.Refusal->find(c.Said), std::string::npos) << *entry.Refusal;
    EXPECT_EQ(entry.RunHost, "") << c.Line;
    EXPECT_FALSE(list.Entries[0].Refusal.has_value());
  }
  // A line break inside a quoted CSV field never reaches a run either.
  HostList csv;
  ASSERT_EQ(ReadHostList("Name,x\n\"pc1\npc2\",y\n", csv), "");
  ASSERT_EQ(csv.Entries.size(), 1u);
  EXPECT_TRUE(csv.Entries[0].Refusal.has_value());
}

TEST(HostListTest, RefusesWhatIsNoHostList) {
  struct Case {
    const char* Name;
    std::string Bytes;
    std::string Error;
  };
  const Case cases[] = {
      {"empty", "", "names no host"},
      {"comments only", "# a\n;b\n\n   \n", "names no host"},
      {"CSV header only", "\"DNSHostName\",\"Name\"\r\n", "names no host"},
      {"binary",
       std::string("\x7F"
                   "ELF\0\0\1",
                   7),
       "not text"},
      {"UTF-16 without its mark", std::string("p\0c\0", 4), "not text"},
      {"too large", std::string(MaxHostListBytes + 1, 'a'), "larger than"},
  };
  for (const Case& c : cases) {
    HostList list;
    const std::string error = ReadHostList(c.Bytes, list);
    EXPECT_NE(error.find(c.Error), std::string::npos) << c.Name << ": " << error;
    EXPECT_TRUE(list.Entries.empty()) << c.Name;
  }
  std::string bytes;
  std::istringstream small("pc1\n");
  EXPECT_EQ(ReadListBytes(small, bytes), "");
  EXPECT_EQ(bytes, "pc1\n");
}

TEST(HostListTest, RecordsARefusedEntry) {
  HostEntry entry;
  entry.Listed = "pc1 /Q";
  entry.Refusal = "ERROR: The host text holds a space, which no host name does.";
  const records::HostRecord r = RefusedRecord(entry, "2026-12-07T14:30:00Z");
  const std::string line = records::ToJsonLine(r);
  EXPECT_NE(line.find("\"host\":\"pc1 /Q\""), std::string::npos);
  EXPECT_NE(line.find("\"exit_code\":9,\"failed\":[\"usage\"]"), std::string::npos);
  EXPECT_EQ(r.Lines, std::vector<std::string>{*entry.Refusal});
}

}  // namespace
}  // namespace quorvex::sweep
