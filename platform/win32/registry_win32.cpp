#include "platform/win32/registry_win32.h"

#include "platform/win32/win32_names.h"

#include <algorithm>
#include <vector>

namespace quillon::platform::win32 {
namespace {

class Win32Key final : public RegistryKey {
 public:
  explicit Win32Key(HKEY key) : key_(key) {}
  ~Win32Key() override { RegCloseKey(key_); }
  Win32Key(const Win32Key&) = delete;
  Win32Key& operator=(const Win32Key&) = delete;

  ErrorCode EnumKey(std::uint32_t index, std::span<wchar_t> name, std::size_t* length) override {
    DWORD chars = static_cast<DWORD>(name.size());
    const LSTATUS status = RegEnumKeyExW(key_, index, name.data(), &chars, nullptr, nullptr, nullptr, nullptr);
    *length = chars;
    return static_cast<ErrorCode>(status);
  }

  ErrorCode EnumValue(std::uint32_t index, std::span<wchar_t> name, std::size_t* nameLength, std::uint32_t* type,
                      std::span<std::uint8_t> data, std::size_t* dataLength) override {
    DWORD chars = static_cast<DWORD>(name.size());
    DWORD valueType = 0;
    DWORD stored = 0;
    LSTATUS status = RegEnumValueW(key_, index, name.data(), &chars, nullptr, &valueType, nullptr, &stored);
    *nameLength = chars;
    *type = valueType;
    *dataLength = stored;
    if (status != ERROR_SUCCESS) return static_cast<ErrorCode>(status);
    return ReadExactly(data, dataLength, [&](BYTE* into, DWORD* bytes) {
      DWORD again = static_cast<DWORD>(name.size());
      return RegEnumValueW(key_, index, name.data(), &again, nullptr, nullptr, into, bytes);
    });
  }

  ErrorCode QueryValue(std::wstring_view name, std::uint32_t* type, std::span<std::uint8_t> data,
                       std::size_t* dataLength) override {
    const std::wstring valueName(name);
    DWORD valueType = 0;
    DWORD stored = 0;
    const LSTATUS status = RegQueryValueExW(key_, valueName.c_str(), nullptr, &valueType, nullptr, &stored);
    *type = valueType;
    *dataLength = stored;
    if (status != ERROR_SUCCESS) return static_cast<ErrorCode>(status);
    return ReadExactly(data, dataLength, [&](BYTE* into, DWORD* bytes) {
      return RegQueryValueExW(key_, valueName.c_str(), nullptr, nullptr, into, bytes);
    });
  }

  ErrorCode SetValue(std::wstring_view name, std::uint32_t type, std::span<const std::uint8_t> data) override {
    const std::wstring valueName(name);
    // The system stores a string that is not followed by a zero character with that character
    // counted in ("the caller forgot the terminator"). Two non-zero bytes after the data keep
    // every value exactly as long as it was given.
    std::vector<std::uint8_t> guarded(data.begin(), data.end());
    guarded.push_back(0xFF);
    guarded.push_back(0xFF);
    return static_cast<ErrorCode>(
        RegSetValueExW(key_, valueName.c_str(), 0, type, guarded.data(), static_cast<DWORD>(data.size())));
  }

  ErrorCode DeleteValue(std::wstring_view name) override {
    const std::wstring valueName(name);
    return static_cast<ErrorCode>(RegDeleteValueW(key_, valueName.c_str()));
  }

  ErrorCode Flush() override { return static_cast<ErrorCode>(RegFlushKey(key_)); }

 private:
  // Reads the *stored bytes of a value that the size query found, exactly as stored. Some
  // registries (Wine's) add a terminator to a string stored without one when the buffer has room,
  // and refuse a buffer without that room: the read goes through a buffer with two bytes to spare
  // and hands out only the stored bytes.
  template <typename ReadInto>
  static ErrorCode ReadExactly(std::span<std::uint8_t> data, std::size_t* stored, ReadInto read) {
    if (*stored > data.size()) return kErrorMoreData;
    std::vector<std::uint8_t> spare(*stored + 2);
    DWORD bytes = static_cast<DWORD>(spare.size());
    const LSTATUS status = read(spare.data(), &bytes);
    if (status != ERROR_SUCCESS) return static_cast<ErrorCode>(status);
    std::copy_n(spare.begin(), *stored, data.begin());
    return kSuccess;
  }

  HKEY key_;
};

}  // namespace

std::wstring Win32Registry::Full(std::wstring_view path) const {
  if (base_.empty()) return std::wstring(path);
  if (path.empty()) return base_;
  return base_ + L"\\" + std::wstring(path);
}

ErrorCode Win32Registry::OpenKey(std::wstring_view path, RegistryAccess access, std::unique_ptr<RegistryKey>* key) {
  const std::wstring full = Full(path);
  HKEY opened = nullptr;
  const LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, full.c_str(), 0,
                                       access == RegistryAccess::kAll ? KEY_ALL_ACCESS : KEY_READ, &opened);
  if (status != ERROR_SUCCESS) return static_cast<ErrorCode>(status);
  *key = std::make_unique<Win32Key>(opened);
  return kSuccess;
}

ErrorCode Win32Registry::CreateKey(std::wstring_view path, std::unique_ptr<RegistryKey>* key) {
  const std::wstring full = Full(path);
  HKEY created = nullptr;
  const LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, full.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         KEY_ALL_ACCESS, nullptr, &created, nullptr);
  if (status != ERROR_SUCCESS) return static_cast<ErrorCode>(status);
  *key = std::make_unique<Win32Key>(created);
  return kSuccess;
}

ErrorCode Win32Registry::DeleteKey(std::wstring_view path) {
  if (path.empty()) return kErrorAccessDenied;
  const std::wstring full = Full(path);
  return static_cast<ErrorCode>(RegDeleteKeyW(HKEY_LOCAL_MACHINE, full.c_str()));
}

ErrorCode Win32Registry::DeleteTree(std::wstring_view path) {
  if (path.empty()) return kErrorAccessDenied;
  const std::wstring full = Full(path);
  // RegDeleteTreeW empties the key; the key itself goes with RegDeleteKeyW.
  const LSTATUS emptied = RegDeleteTreeW(HKEY_LOCAL_MACHINE, full.c_str());
  if (emptied != ERROR_SUCCESS) return static_cast<ErrorCode>(emptied);
  const LSTATUS removed = RegDeleteKeyW(HKEY_LOCAL_MACHINE, full.c_str());
  return removed == ERROR_FILE_NOT_FOUND ? kSuccess : static_cast<ErrorCode>(removed);
}

}  // namespace quillon::platform::win32
