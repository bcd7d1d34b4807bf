// One rule says when two host texts are one host; everything that matches
// hosts (the list's duplicates, resume, the comparison of two sweeps) uses it.
#include "records/host_key.h"

#include <gtest/gtest.h>

namespace quorvex::records {
namespace {

TEST(HostKey, SpellingsOfOneHostShareAKey) {
  struct Case {
    const char* A;
    const char* B;
    bool Same;
  };
  const Case cases[] = {
      {"PC\xC3\x84", "pc\xC3\xA4", true},  // PCÄ / pcä: a letter code page 437 upper-cases
      {"\\\\PC9", "pc9", true},            // the UNC prefix the single tool trims
      {"\"pc7\"", "PC7 ", true},           // quotes, and a space left by a spreadsheet
      {"\tws-1.corp.example\t", "WS-1.CORP.EXAMPLE", true},
      {"\xC3\xA9\xC3\xB1\xC3\xA5\xC3\xA7\xC3\xB6\xC3\xBC", "\xC3\x89\xC3\x91\xC3\x85\xC3\x87\xC3\x96\xC3\x9C", true},
      {"pc\xC3\xB8", "PC\xC3\x98", false},  // ø: no upper case in code page 437, so the tool keeps it
      {"pc1", "pc1.corp.example", false},   // a NetBIOS name and a DNS name are different texts
      {"pc 1", "pc1", false},
      {"pc\xFF", "pc\xEF\xBF\xBD", true},  // broken UTF-8 reads as its replacement
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HostKey(c.A) == HostKey(c.B), c.Same) << c.A << " / " << c.B;
  }
  EXPECT_EQ(HostKey(" \\\\\"pc\xC3\xA4.corp\" "), "PC\xC3\x84.CORP");
}

}  // namespace
}  // namespace quorvex::records
