#include "psconfig/bluetooth_address.h"

#include <cstdio>

namespace quillon {

std::string BluetoothAddress::Text() const {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", static_cast<unsigned>((value >> 40) & 0xFF),
                static_cast<unsigned>((value >> 32) & 0xFF), static_cast<unsigned>((value >> 24) & 0xFF),
                static_cast<unsigned>((value >> 16) & 0xFF), static_cast<unsigned>((value >> 8) & 0xFF),
                static_cast<unsigned>(value & 0xFF));
  return text;
}

std::array<std::uint16_t, 4> BluetoothAddress::KeyValues() const {
  return {static_cast<std::uint16_t>(Lap() >> 16), static_cast<std::uint16_t>(Lap() & 0xFFFF), Uap(), Nap()};
}

std::optional<BluetoothAddress> BluetoothAddress::Parse(std::string_view text) {
  if (text.size() != 17) return std::nullopt;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i % 3 == 2) {
      if (c != ':') return std::nullopt;
      continue;
    }
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return std::nullopt;
    value = value << 4 | static_cast<std::uint64_t>(digit);
  }
  return BluetoothAddress{value};
}

std::string AddressBlock::Parse(std::string_view text, AddressBlock* block) {
  constexpr const char* kForm = "an address block is FIRST:LAST, such as 00:02:5B:00:A5:A5:00:02:5B:00:A5:FF";
  // Two addresses of 17 characters joined by one colon.
  if (text.size() != 35 || text[17] != ':') return kForm;
  const std::optional<BluetoothAddress> first = BluetoothAddress::Parse(text.substr(0, 17));
  const std::optional<BluetoothAddress> last = BluetoothAddress::Parse(text.substr(18));
  if (!first || !last) return kForm;
  if (*last < *first) {
    return "the address block is written backwards: its first address, " + first->Text() + ", is after its last, " +
           last->Text();
  }
  *block = AddressBlock{*first, *last};
  return {};
}

}  // namespace quillon
