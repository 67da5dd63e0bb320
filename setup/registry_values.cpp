#include "setup/registry_values.h"

#include <array>
#include <memory>

#include "platform/text.h"

namespace quillon {

std::wstring TextOfStringData(std::span<const std::uint8_t> data) {
  std::size_t end = 0;
  while (end + 1 < data.size() && (data[end] != 0 || data[end + 1] != 0)) end += 2;
  return platform::Utf16leToWide(data.first(std::min(end, data.size())));
}

std::vector<std::uint8_t> StringData(std::wstring_view text) {
  const std::string bytes = platform::WideToUtf16le(text);
  std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
  data.push_back(0);
  data.push_back(0);
  return data;
}

platform::ErrorCode ReadString(platform::RegistryKey& key, std::wstring_view name, std::wstring* text) {
  std::array<std::uint8_t, kStringDataBytes> data{};
  std::uint32_t type = 0;
  std::size_t length = 0;
  const platform::ErrorCode error = key.QueryValue(name, &type, data, &length);
  if (error != platform::kSuccess) return error;
  if (type != platform::kRegSz) return platform::kErrorInvalidData;
  *text = TextOfStringData(std::span<const std::uint8_t>(data.data(), std::min(length, data.size())));
  return platform::kSuccess;
}

platform::ErrorCode WriteString(platform::RegistryKey& key, std::wstring_view name, std::wstring_view text) {
  return key.SetValue(name, platform::kRegSz, StringData(text));
}

platform::ErrorCode ReadDword(platform::RegistryKey& key, std::wstring_view name, std::uint32_t* value) {
  std::array<std::uint8_t, 4> data{};
  std::uint32_t type = 0;
  std::size_t length = 0;
  const platform::ErrorCode error = key.QueryValue(name, &type, data, &length);
  if (error != platform::kSuccess) return error;
  if (type != platform::kRegDword || length != 4) return platform::kErrorInvalidData;
  *value = static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
           static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
  return platform::kSuccess;
}

platform::ErrorCode WriteDword(platform::RegistryKey& key, std::wstring_view name, std::uint32_t value) {
  const std::array<std::uint8_t, 4> data = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                            static_cast<std::uint8_t>(value >> 16),
                                            static_cast<std::uint8_t>(value >> 24)};
  return key.SetValue(name, platform::kRegDword, data);
}

std::wstring JoinKeyPath(std::wstring_view parent, std::wstring_view child) {
  std::wstring path(parent);
  if (child.empty()) return path;
  if (!path.empty() && path.back() != L'\\' && child.front() != L'\\') path += L'\\';
  path += child;
  return path;
}

platform::ErrorCode FlushParentOf(platform::Registry& registry, std::wstring_view path) {
  const std::size_t last = path.find_last_of(L'\\');
  std::unique_ptr<platform::RegistryKey> parent;
  const platform::ErrorCode opened = registry.OpenKey(last == std::wstring_view::npos ? std::wstring_view()
                                                                                      : path.substr(0, last),
                                                      platform::RegistryAccess::kRead, &parent);
  return opened != platform::kSuccess ? opened : parent->Flush();
}

}  // namespace quillon
