#include <algorithm>
#include <vector>

#include "platform/win32/win32_backend.h"
#include "platform/win32/win32_headers.h"

namespace quorvex::win32 {
namespace {

class Win32RegistryKey : public RegistryKey {
 public:
  explicit Win32RegistryKey(HKEY key) : key_(key) {}
  ~Win32RegistryKey() override { RegCloseKey(key_); }
  Win32RegistryKey(const Win32RegistryKey&) = delete;
  Win32RegistryKey& operator=(const Win32RegistryKey&) = delete;

  std::int32_t OpenKey(const std::string& path, std::unique_ptr<RegistryKey>& subKey) override {
    HKEY opened = nullptr;
    LONG status = RegOpenKeyExA(key_, path.c_str(), 0, KEY_READ, &opened);
    if (status == ERROR_SUCCESS) {
      subKey = std::make_unique<Win32RegistryKey>(opened);
    } else {
      subKey.reset();
    }
    return status;
  }

  // RegQueryValueExA may fill the buffer partly before it reports
  // ERROR_MORE_DATA; the caller's buffer carries a failure marker that must
  // survive any failed read, so the value lands in a copy first.
  std::int32_t QueryValue(const std::string& valueName, std::uint32_t& type, std::uint8_t* buffer,
                          std::uint32_t& size) override {
    std::vector<BYTE> copy(buffer, buffer + (buffer != nullptr ? size : 0));
    DWORD valueType = type;
    DWORD valueSize = buffer != nullptr ? size : 0;
    LONG status = RegQueryValueExA(key_, valueName.c_str(), nullptr, &valueType, copy.empty() ? nullptr : copy.data(),
                                   &valueSize);
    if (status != ERROR_SUCCESS) return status;
    if (buffer != nullptr) {
      std::copy_n(copy.begin(), std::min<std::size_t>(valueSize, copy.size()), buffer);
    }
    type = valueType;
    size = valueSize;
    return status;
  }

  std::int32_t EnumKey(std::uint32_t index, std::string& name) override {
    char text[256];  // the longest key name the registry allows, and its NUL
    DWORD length = sizeof text;
    LONG status = RegEnumKeyExA(key_, index, text, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) name.assign(text, length);
    return status;
  }

 private:
  HKEY key_;
};

class Win32Registry : public RegistryService {
 public:
  std::int32_t ConnectRegistry(const std::string& uncMachineName, std::unique_ptr<RegistryKey>& rootKey) override {
    HKEY root = nullptr;
    LONG status = RegConnectRegistryA(uncMachineName.c_str(), HKEY_LOCAL_MACHINE, &root);
    if (status == ERROR_SUCCESS) {
      rootKey = std::make_unique<Win32RegistryKey>(root);
    } else {
      rootKey.reset();
    }
    return status;
  }
};

}  // namespace

std::unique_ptr<RegistryService> MakeRegistryService() { return std::make_unique<Win32Registry>(); }

}  // namespace quorvex::win32
