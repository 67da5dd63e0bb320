// BCCMD, the module's command protocol: the requests this system sends and the decoding of what
// comes back. Pure functions over bytes; the steps of a run that use them live in the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "psconfig/ps_key_list.h"

namespace quillon {

// Message types (the first word of a message).
inline constexpr std::uint16_t kBccmdGetRequest = 0;
inline constexpr std::uint16_t kBccmdGetResponse = 1;
inline constexpr std::uint16_t kBccmdSetRequest = 2;

// Variable identifiers.
inline constexpr std::uint16_t kVarIdBuildId = 0x2819;
inline constexpr std::uint16_t kVarIdPsKey = 0x7003;
inline constexpr std::uint16_t kVarIdWarmReset = 0x4002;

// Words of a message before its values: type, length, sequence, variable, status, key, value
// length, stores.
inline constexpr std::uint16_t kBccmdHeaderWords = 8;

// Bluetooth HCI event codes. On the command channel the module's events are told apart from
// responses by the first byte of the type word; on the HCI channel by the first payload byte.
inline constexpr std::uint8_t kHciDisconnectionComplete = 0x05;
inline constexpr std::uint8_t kHciCommandStatus = 0x0F;
inline constexpr std::uint8_t kHciHardwareError = 0x10;

// The request of one item as sent: its eight header words and its values, little-endian.
// Returns the number of bytes (16 + 2 × valueCount), or 0 when `out` is too small.
std::size_t EncodeBccmdRequest(const PsKeyItem& item, std::span<std::uint8_t> out);

// What a delivered command-channel message says. Fields the message is too short to hold are 0.
struct BccmdMessage {
  std::uint16_t type = 0;
  std::uint16_t sequence = 0;
  std::uint8_t firstByte = 0;  // the type word's first byte: what a message is told apart by
  bool hasVarId = false;       // long enough to carry a variable identifier
  std::uint16_t varId = 0;
  std::uint16_t status = 0;
  std::uint16_t psKey = 0;
  std::span<const std::uint8_t> values;  // the value words that came (little-endian), at most as many as announced
};
BccmdMessage DecodeBccmdMessage(std::span<const std::uint8_t> bytes);

// The bytes as hexadecimal text ("%02x", with a blank after each when `spaced`), appended until
// the text reaches `stopAt` characters. `out` must hold stopAt + 4 characters; the text is
// NUL-terminated. Returns its length.
std::size_t FormatHexLine(std::span<const std::uint8_t> bytes, bool spaced, std::size_t stopAt, std::span<wchar_t> out);

}  // namespace quillon
