// Reading and writing the setup's registry values: strings (UTF-16LE, written with their
// terminating zero) and 32-bit numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace quillon {

// String data is read into buffers of this many bytes: 129 characters and their zero.
inline constexpr std::size_t kStringDataBytes = 260;
// The most characters a string value may have so that every reader gets it with its zero.
inline constexpr std::size_t kMaxStringChars = kStringDataBytes / 2 - 1;

// The text of string data: UTF-16LE up to its first zero character or its end.
std::wstring TextOfStringData(std::span<const std::uint8_t> data);
// The data of a string value, with its terminating zero.
std::vector<std::uint8_t> StringData(std::wstring_view text);

// A string value of at most kStringDataBytes bytes; an error when it is missing, too long or no string.
platform::ErrorCode ReadString(platform::RegistryKey& key, std::wstring_view name, std::wstring* text);
platform::ErrorCode WriteString(platform::RegistryKey& key, std::wstring_view name, std::wstring_view text);
platform::ErrorCode ReadDword(platform::RegistryKey& key, std::wstring_view name, std::uint32_t* value);
platform::ErrorCode WriteDword(platform::RegistryKey& key, std::wstring_view name, std::uint32_t value);

// Flushes the key above `path` after `path` was deleted: on the handheld a deletion, like every
// change, outlives a restart only once a flush has kept it.
platform::ErrorCode FlushParentOf(platform::Registry& registry, std::wstring_view path);

// "A\B" joined with "C" as "A\B\C"; an empty part adds nothing.
std::wstring JoinKeyPath(std::wstring_view parent, std::wstring_view child);

}  // namespace quillon
