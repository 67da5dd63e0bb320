// The module's own Bluetooth address in a programming list: key &0001, written after the file's
// keys and before the warm reset, in place of any &0001 line of the file.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "psconfig/ps_key_list.h"

namespace quillon {

inline constexpr std::uint16_t kAddressKey = 0x0001;

// Rearranges a loaded list (build identifier, keys, warm reset) into build identifier, the keys
// but &0001, the address key, warm reset. *replacedLines gets the file lines of the &0001 keys
// taken out. False, with the list as it was, when the list would exceed its limit or memory is
// short.
bool PlaceAddressKey(PsKeyList& list, const std::array<std::uint16_t, 4>& values,
                     std::vector<std::uint32_t>* replacedLines);

}  // namespace quillon
