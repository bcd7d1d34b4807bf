#include <gtest/gtest.h>

#include "platform/win32/win32_backend.h"

namespace quorvex::win32 {
namespace {

TEST(CutProgramNameTest, KeepsEverythingAfterTheProgramNameAndItsSpaces) {
  struct Case {
    const char* line;
    const char* expected;
  } cases[] = {
      {"quorvex.exe /M pc1", "/M pc1"},
      {"quorvex.exe    /M pc1  ", "/M pc1  "},  // trailing spaces belong to the text
      {"\"C:\\Program Files\\quorvex.exe\" /M pc1", "/M pc1"},
      {"\"C:\\Tools\\quorvex.exe\"/M pc1", "/M pc1"},  // the closing quote ends the name
      {"\"C:\\a b\\quorvex.exe /M pc1", ""},           // never closed: all of it is the name
      {"quorvex.exe\t/M pc1", "\t/M pc1"},             // a tab ends the name but is no space
      {"quorvex.exe \t/M", "\t/M"},
      {"C:\\Tools\\qu\xE9rvex.exe /M pc1", "/M pc1"},  // bytes above 127 are name bytes
      {"quorvex.exe", ""},
      {"", ""},
      {"  /M pc1", "/M pc1"},  // an empty name: the leading spaces go
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CutProgramName(c.line), c.expected) << "line: " << c.line;
  }
}

}  // namespace
}  // namespace quorvex::win32
