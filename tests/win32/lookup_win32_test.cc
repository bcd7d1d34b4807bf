#include <gtest/gtest.h>

#include "platform/win32/win32_backend.h"
#include "win32_test_support.h"

namespace quorvex::win32 {
namespace {

TEST(LookupWin32Test, ResolvesLoopbackBothWays) {
  std::unique_ptr<LookupService> lookup = MakeLookupService();
  EXPECT_EQ(lookup->FirstAddressOf("localhost"), (Ipv4Address{127, 0, 0, 1}));
  std::optional<std::string> name = lookup->OfficialNameOf({127, 0, 0, 1});
  ASSERT_TRUE(name.has_value());
  EXPECT_FALSE(name->empty());
  // Wine answers from the Linux hosts file; Windows answers its own name.
  if (testing::RunningUnderWine()) {
    EXPECT_EQ(*name, "localhost");
  }
  EXPECT_FALSE(lookup->LocalHostName().empty());
  // Every lookup releases the library: a second round must work just as well.
  EXPECT_EQ(lookup->FirstAddressOf("localhost"), (Ipv4Address{127, 0, 0, 1}));
}

TEST(LookupWin32Test, InetAddrKeepsNetworkOrder) {
  struct Case {
    const char* text;
    std::optional<Ipv4Address> expected;
  } cases[] = {
      {"127.0.0.1", Ipv4Address{127, 0, 0, 1}},
      {"192.168.10.42", Ipv4Address{192, 168, 10, 42}},
      {"255.255.255.254", Ipv4Address{255, 255, 255, 254}},
      {"255.255.255.255", std::nullopt},  // indistinguishable from INADDR_NONE
      {"PC042", std::nullopt},
      {"1-2-3", std::nullopt},
  };
  std::unique_ptr<LookupService> lookup = MakeLookupService();
  for (const Case& c : cases) EXPECT_EQ(lookup->InetAddr(c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace quorvex::win32
