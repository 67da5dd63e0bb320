// Bluetooth device addresses as a maker hands them out: written as six hexadecimal bytes
// ("00:02:5B:00:A5:A5", NAP, UAP, LAP from the left), given one by one from a block it owns, and
// stored in the module as PS key &0001.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

struct BluetoothAddress {
  std::uint64_t value = 0;  // 48 bits: NAP (16), UAP (8), LAP (24)

  std::uint32_t Lap() const { return static_cast<std::uint32_t>(value & 0xFFFFFF); }
  std::uint8_t Uap() const { return static_cast<std::uint8_t>((value >> 24) & 0xFF); }
  std::uint16_t Nap() const { return static_cast<std::uint16_t>((value >> 32) & 0xFFFF); }
  // The LAPs 0x9E8B00 to 0x9E8B3F are the inquiry access codes: never a device's address.
  bool InInquiryAccessRange() const { return Lap() >= 0x9E8B00 && Lap() <= 0x9E8B3F; }
  // "00:02:5B:00:A5:A5", upper-case.
  std::string Text() const;
  // The four words of key &0001: LAP bits 16-23, LAP bits 0-15, UAP, NAP.
  std::array<std::uint16_t, 4> KeyValues() const;

  // Six pairs of hexadecimal digits separated by colons; nothing else.
  static std::optional<BluetoothAddress> Parse(std::string_view text);
  friend bool operator==(BluetoothAddress, BluetoothAddress) = default;
  friend auto operator<=>(BluetoothAddress, BluetoothAddress) = default;
};

// FIRST:LAST, both included.
struct AddressBlock {
  BluetoothAddress first;
  BluetoothAddress last;
  // Empty, or what is wrong with `text` (its form, or a block written backwards).
  static std::string Parse(std::string_view text, AddressBlock* block);
  bool Holds(BluetoothAddress address) const { return address >= first && address <= last; }
};

}  // namespace quillon
