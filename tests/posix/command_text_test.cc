#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/local_services.h"

namespace quorvex::posix {
namespace {

struct Case {
  const char* Name;
  std::vector<const char*> Arguments;  // without the program name
  std::string Expected;
};

TEST(CommandText, RebuiltFromArguments) {
  const Case cases[] = {
      {"no arguments", {}, ""},
      {"plain words", {"/M", "pc1", "/P"}, "/M pc1 /P"},
      {"space keeps its quotes", {"/M", "pc1 pc2"}, "/M \"pc1 pc2\""},
      {"tab keeps its quotes", {"/M", "pc1\tpc2"}, "/M \"pc1\tpc2\""},
      {"empty argument stays a token", {"/C", "", "/M", "pc1"}, "/C \"\" /M pc1"},
      {"quotes inside pass as typed", {"/M", "\"pc1"}, "/M \"pc1"},
      {"quoted words are not quoted twice", {"/T", "\"two words\""}, "/T \"two words\""},
      {"comma is not quoted", {"/M", "pc1,pc2"}, "/M pc1,pc2"},
      {"utf-8 becomes code page 437", {"/T", "m\xC3\xBCller"}, "/T m\x81ller"},
      {"unmapped becomes question mark", {"/M", "\xE2\x82\xAC"}, "/M ?"},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"quorvex"};
    argv.insert(argv.end(), c.Arguments.begin(), c.Arguments.end());
    EXPECT_EQ(CommandTextFromArguments(static_cast<int>(argv.size()), argv.data()), c.Expected) << c.Name;
  }
}

}  // namespace
}  // namespace quorvex::posix
