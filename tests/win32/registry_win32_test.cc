#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32/win32_backend.h"
#include "win32_test_support.h"

namespace quorvex::win32 {
namespace {

constexpr const char* kProductKey = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";
constexpr const char* kVersionKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

// Wine connects only to its own computer (and answers 53 for any other name,
// without network traffic), so the real reads are of the local registry.
std::unique_ptr<RegistryKey> ConnectToSelf() {
  std::unique_ptr<RegistryKey> root;
  EXPECT_EQ(MakeRegistryService()->ConnectRegistry("\\\\" + testing::ComputerName(), root), 0);
  return root;
}

TEST(RegistryWin32Test, OtherComputerIsRefused) {
  std::unique_ptr<RegistryKey> root;
  EXPECT_NE(MakeRegistryService()->ConnectRegistry("\\\\QVXNOHOST", root), 0);
  EXPECT_EQ(root, nullptr);
}

TEST(RegistryWin32Test, ReadsRoleAndVersion) {
  struct Case {
    const char* key;
    const char* value;
    const char* wine;  // what Wine's default Windows 7 identity holds
  } cases[] = {{kProductKey, "ProductType", "WinNT"}, {kVersionKey, "CurrentVersion", "6.1"}};
  std::unique_ptr<RegistryKey> root = ConnectToSelf();
  ASSERT_NE(root, nullptr);
  for (const Case& c : cases) {
    std::unique_ptr<RegistryKey> sub;
    ASSERT_EQ(root->OpenKey(c.key, sub), 0) << c.key;
    ASSERT_NE(sub, nullptr);
    std::uint8_t buffer[1024] = "*ERROR*";
    std::uint32_t type = REG_SZ, size = sizeof buffer;
    ASSERT_EQ(sub->QueryValue(c.value, type, buffer, size), 0) << c.value;
    EXPECT_EQ(type, static_cast<std::uint32_t>(REG_SZ));
    std::string text(reinterpret_cast<const char*>(buffer));
    EXPECT_EQ(size, text.size() + 1);
    if (testing::RunningUnderWine()) {
      EXPECT_EQ(text, c.wine);
    }
  }
}

// The caller's failure marker must survive every failed read, including one
// that fails only because the buffer is too small.
TEST(RegistryWin32Test, FailedReadsLeaveTheBufferAlone) {
  struct Case {
    const char* value;
    std::uint32_t size;
    std::int32_t status;
  } cases[] = {{"NoSuchValue", 1024, ERROR_FILE_NOT_FOUND}, {"ProductType", 3, ERROR_MORE_DATA}};
  std::unique_ptr<RegistryKey> root = ConnectToSelf();
  ASSERT_NE(root, nullptr);
  std::unique_ptr<RegistryKey> sub;
  ASSERT_EQ(root->OpenKey(kProductKey, sub), 0);
  for (const Case& c : cases) {
    std::uint8_t buffer[1024] = "*ERROR*";
    std::uint32_t type = REG_SZ, size = c.size;
    EXPECT_EQ(sub->QueryValue(c.value, type, buffer, size), c.status) << c.value;
    EXPECT_STREQ(reinterpret_cast<const char*>(buffer), "*ERROR*") << c.value;
  }
  std::unique_ptr<RegistryKey> missing = std::move(sub);
  EXPECT_NE(root->OpenKey("SOFTWARE\\QuorvexNoSuchKey", missing), 0);
  EXPECT_EQ(missing, nullptr);
}

}  // namespace
}  // namespace quorvex::win32
