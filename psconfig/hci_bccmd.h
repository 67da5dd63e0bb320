// BCCMD carried in HCI, as a module's HCI extension takes it: a request is the HCI command 0xFC00
// whose parameters are a payload descriptor and the message; the answer comes in vendor events
// (code 0xFF) with the same descriptor. An HCI command holds at most 255 parameter bytes, so a
// message over 254 bytes goes in fragments, both ways. Pure functions over bytes, shared by every
// transport that carries HCI (H4 on a UART, the Linux kernel's HCI socket).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quillon {

inline constexpr std::uint16_t kHciBccmdOpcode = 0xFC00;  // OGF 0x3F, OCF 0
inline constexpr std::uint8_t kHciVendorEvent = 0xFF;
inline constexpr std::uint8_t kHciCommandComplete = 0x0E;
inline constexpr std::uint8_t kDescriptorBccmdChannel = 2;  // bits 0 to 5 of the descriptor
inline constexpr std::uint8_t kDescriptorFirst = 0x40;
inline constexpr std::uint8_t kDescriptorLast = 0x80;
inline constexpr std::size_t kFragmentBytes = 254;  // 255 parameter bytes less the descriptor
// The longest message a run sends or takes: a key of 188 values with its header (392 bytes),
// with room to spare. A reassembly past it is refused.
inline constexpr std::size_t kLongestBccmdMessage = 1024;

// The HCI commands that carry `message`, in order: opcode (little-endian), parameter length,
// descriptor, part of the message.
std::vector<std::vector<std::uint8_t>> BccmdCommands(std::span<const std::uint8_t> message);

// What came that was not a part of an answer, by kind. Each is counted and left out.
struct HciEventCounts {
  std::uint32_t otherEvents = 0;   // not a vendor event (Command Complete, Command Status, ...)
  std::uint32_t otherChannel = 0;  // a vendor event of another channel than BCCMD
  std::uint32_t outOfOrder = 0;    // a fragment without its first, or a first before a last
  std::uint32_t badLength = 0;     // an event longer or shorter than its declared length
  std::uint32_t tooLong = 0;       // a reassembly past kLongestBccmdMessage
};

// Puts the BCCMD messages of vendor events back together.
class BccmdEventAssembler {
 public:
  // One HCI event as received: code, declared parameter length, parameters. True when it ended a
  // message, which is then in *message.
  bool Take(std::span<const std::uint8_t> event, std::vector<std::uint8_t>* message);
  const HciEventCounts& Counts() const { return counts_; }

 private:
  std::vector<std::uint8_t> partial_;
  bool inMessage_ = false;
  HciEventCounts counts_;
};

}  // namespace quillon
