// Registry value data as the device's keys hold it: strings as UTF-16LE with a terminating zero,
// 32-bit numbers as four little-endian bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::device {

std::vector<std::uint8_t> StringValueData(std::wstring_view text);
std::vector<std::uint8_t> DwordValueData(std::uint32_t value);
// The text of string data, with or without its terminating zero.
std::wstring TextOfValueData(std::span<const std::uint8_t> data);
// The number of 32-bit data; none when the data is not four bytes long.
std::optional<std::uint32_t> DwordOfValueData(std::span<const std::uint8_t> data);

}  // namespace quillon::device
