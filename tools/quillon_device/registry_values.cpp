#include "tools/quillon_device/registry_values.h"

#include "platform/text.h"

namespace quillon::device {

std::vector<std::uint8_t> StringValueData(std::wstring_view text) {
  const std::string bytes = platform::WideToUtf16le(text);
  std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
  data.push_back(0);
  data.push_back(0);
  return data;
}

std::vector<std::uint8_t> DwordValueData(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::wstring TextOfValueData(std::span<const std::uint8_t> data) {
  std::wstring text = platform::Utf16leToWide(data);
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

std::optional<std::uint32_t> DwordOfValueData(std::span<const std::uint8_t> data) {
  if (data.size() != 4) return std::nullopt;
  return data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
}

}  // namespace quillon::device
