#include <gtest/gtest.h>

#include "platform/win32/win32_backend.h"
#include "win32_test_support.h"

namespace quorvex::win32 {
namespace {

// Only the local computer is asked: Wine has no remote network management
// (a remote name answers 124), and a test must not reach other hosts anyway.
TEST(NetManagementWin32Test, LocalWorkstationAtLevel102) {
  std::unique_ptr<NetManagementService> net = MakeNetManagementService();
  std::string computer = testing::ComputerName();
  ASSERT_FALSE(computer.empty());
  std::unique_ptr<WorkstationRecord> record;
  ASSERT_EQ(net->GetWorkstationInfo("\\\\" + computer, record), 0u);
  ASSERT_NE(record, nullptr);
  ASSERT_NE(record->Info.ComputerName, nullptr);
  EXPECT_EQ(net->WideToAnsiText(record->Info.ComputerName), computer);
  ASSERT_NE(record->Info.LanGroup, nullptr);
  EXPECT_FALSE(net->WideToAnsiText(record->Info.LanGroup).empty());
  if (testing::RunningUnderWine()) {  // Wine presents itself as Windows 7
    EXPECT_EQ(record->Info.VerMajor, 6u);
    EXPECT_EQ(record->Info.VerMinor, 1u);
  }
}

// Wine implements the server query at level 101 only and answers level 102
// with ERROR_INVALID_LEVEL (124), so under Wine the failure is the real
// answer, and no record may be left behind for it.
TEST(NetManagementWin32Test, LocalServerAtLevel102) {
  std::unique_ptr<NetManagementService> net = MakeNetManagementService();
  std::unique_ptr<ServerRecord> record;
  std::uint32_t status = net->GetServerInfo("\\\\" + testing::ComputerName(), record);
  if (testing::RunningUnderWine()) {
    EXPECT_EQ(status, 124u);
    EXPECT_EQ(record, nullptr);
  } else {
    EXPECT_EQ(status, 0u);
    EXPECT_NE(record, nullptr);
  }
}

// An empty server name means "this computer" to the API; a name that did not
// survive conversion must fail instead of answering for the wrong machine.
TEST(NetManagementWin32Test, EmptyServerNameIsNotTheLocalComputer) {
  std::unique_ptr<NetManagementService> net = MakeNetManagementService();
  std::unique_ptr<WorkstationRecord> record;
  EXPECT_NE(net->GetWorkstationInfo("", record), 0u);
  EXPECT_EQ(record, nullptr);
}

TEST(NetManagementWin32Test, WideToAnsiConvertsExactlyTheGivenUnits) {
  struct Case {
    std::u16string_view wide;
    std::string ansi;
  } cases[] = {
      {u"", ""},
      {u"PC042", "PC042"},
      {u"SALES corp", "SALES corp"},
      {std::u16string_view(u"A\0B", 3), std::string("A\0B", 3)},  // an inner NUL is a unit too
      {std::u16string_view(u"PC042", 2), "PC"},
  };
  std::unique_ptr<NetManagementService> net = MakeNetManagementService();
  for (const Case& c : cases) EXPECT_EQ(net->WideToAnsiText(c.wide), c.ansi);
}

}  // namespace
}  // namespace quorvex::win32
