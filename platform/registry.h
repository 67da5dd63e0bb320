// The registry under the local-machine root, shaped after the Windows registry calls.
//
// Key paths are relative to the root ("Software\\Norvale\\Quillon"). Key and value names are
// compared without regard to case and keep the case they were created with. Enumeration by index
// gives a stable order while the key is not changed. Buffers are the caller's: a name or data that
// does not fit gives kErrorMoreData, as RegEnumValue does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "platform/errors.h"

namespace quillon::platform {

inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

enum class RegistryAccess { kRead, kAll };

class RegistryKey {
 public:
  virtual ~RegistryKey() = default;  // closes the key
  // Subkey name at `index` into `name` (terminated); *length is its length in characters.
  virtual ErrorCode EnumKey(std::uint32_t index, std::span<wchar_t> name, std::size_t* length) = 0;
  // Value at `index`: name as in EnumKey, type, and data into `data` (*dataLength bytes).
  virtual ErrorCode EnumValue(std::uint32_t index, std::span<wchar_t> name, std::size_t* nameLength,
                              std::uint32_t* type, std::span<std::uint8_t> data, std::size_t* dataLength) = 0;
  virtual ErrorCode QueryValue(std::wstring_view name, std::uint32_t* type, std::span<std::uint8_t> data,
                               std::size_t* dataLength) = 0;
  virtual ErrorCode SetValue(std::wstring_view name, std::uint32_t type, std::span<const std::uint8_t> data) = 0;
  virtual ErrorCode DeleteValue(std::wstring_view name) = 0;
  virtual ErrorCode Flush() = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;
  virtual ErrorCode OpenKey(std::wstring_view path, RegistryAccess access, std::unique_ptr<RegistryKey>* key) = 0;
  // Creates the key and any missing parents, or opens it when it exists.
  virtual ErrorCode CreateKey(std::wstring_view path, std::unique_ptr<RegistryKey>* key) = 0;
  // Deletes a key that has no subkeys (kErrorAccessDenied when it has some).
  virtual ErrorCode DeleteKey(std::wstring_view path) = 0;
  // Deletes a key with everything below it.
  virtual ErrorCode DeleteTree(std::wstring_view path) = 0;
};

}  // namespace quillon::platform
