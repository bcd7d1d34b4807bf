#include <gtest/gtest.h>

#include <string>

#include "platform/posix/local_services.h"

namespace quorvex::posix {
namespace {

TEST(Resolver, LocalhostBothWays) {
  const std::unique_ptr<LookupService> lookup = OpenLookup();
  const std::optional<Ipv4Address> forward = lookup->FirstAddressOf("localhost");
  ASSERT_TRUE(forward.has_value());
  EXPECT_EQ((*forward)[0], 127);

  const std::optional<std::string> name = lookup->OfficialNameOf({127, 0, 0, 1});
  ASSERT_TRUE(name.has_value());
  ASSERT_FALSE(name->empty());
  // Whatever the hosts file calls it, that name must lead back to loopback.
  const std::optional<Ipv4Address> back = lookup->FirstAddressOf(*name);
  ASSERT_TRUE(back.has_value()) << *name;
  EXPECT_EQ((*back)[0], 127) << *name;
}

TEST(Resolver, LocalHostName) {
  // Unresolvable names are proved by the black-box script, inside a network
  // namespace whose resolver cannot reach beyond the machine.
  EXPECT_FALSE(OpenLookup()->LocalHostName().empty());
}

struct InetCase {
  const char* Text;
  std::optional<Ipv4Address> Expected;
};

TEST(Resolver, InetAddrSemantics) {
  const InetCase cases[] = {
      {"192.168.1.10", Ipv4Address{192, 168, 1, 10}},
      {"10.0.0.1", Ipv4Address{10, 0, 0, 1}},
      {"0.0.0.0", Ipv4Address{0, 0, 0, 0}},
      {"127.1", Ipv4Address{127, 0, 0, 1}},    // short forms fill the last field
      {"010.0.0.1", Ipv4Address{8, 0, 0, 1}},  // leading zero is octal
      {"0x7f.0.0.1", Ipv4Address{127, 0, 0, 1}},
      {"255.255.255.255", std::nullopt},  // indistinguishable from failure
      {"256.1.1.1", std::nullopt},
      {"PC1", std::nullopt},
      {"1.2.3.4.5", std::nullopt},
      {"", std::nullopt},
  };
  const std::unique_ptr<LookupService> lookup = OpenLookup();
  for (const InetCase& c : cases) EXPECT_EQ(lookup->InetAddr(c.Text), c.Expected) << c.Text;
}

}  // namespace
}  // namespace quorvex::posix
