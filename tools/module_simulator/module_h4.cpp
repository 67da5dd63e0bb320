#include "tools/module_simulator/module_h4.h"

#include <algorithm>

namespace quillon::sim {
namespace {

constexpr std::uint8_t kCommandPacket = 0x01;
constexpr std::uint8_t kAclPacket = 0x02;
constexpr std::uint8_t kEventPacket = 0x04;
constexpr std::uint8_t kBccmdChannel = 2;
constexpr std::uint8_t kFirst = 0x40;
constexpr std::uint8_t kLast = 0x80;
constexpr std::size_t kPart = 254;

}  // namespace

void ModuleH4::Restart(std::uint64_t) {
  type_ = 0;
  packet_.clear();
  message_.clear();
  inMessage_ = false;
}

void ModuleH4::OnByte(std::uint8_t byte, std::uint64_t) {
  if (type_ == 0) {
    // A command, or ACL data (which the module takes and leaves); anything else is noise.
    if (byte != kCommandPacket && byte != kAclPacket) return;
    type_ = byte;
    packet_.clear();
    wanted_ = type_ == kCommandPacket ? 3 : 4;
    return;
  }
  packet_.push_back(byte);
  if (packet_.size() == 3 && type_ == kCommandPacket) wanted_ = 3 + packet_[2];
  if (packet_.size() == 4 && type_ == kAclPacket) wanted_ = 4 + static_cast<std::size_t>(packet_[2] | packet_[3] << 8);
  if (packet_.size() < wanted_) return;
  if (type_ == kCommandPacket) HandleCommand();
  type_ = 0;
}

void ModuleH4::HandleCommand() {
  const std::uint16_t opcode = static_cast<std::uint16_t>(packet_[0] | packet_[1] << 8);
  if (opcode != 0xFC00 || packet_.size() < 4) {
    log_("HCI command 0x" + std::to_string(opcode) + " not taken");
    return;
  }
  const std::uint8_t descriptor = packet_[3];
  if ((descriptor & 0x3F) != kBccmdChannel) {
    log_("HCI 0xFC00 for channel " + std::to_string(descriptor & 0x3F) + ": not taken");
    return;
  }
  if ((descriptor & kFirst) != 0) {
    message_.clear();
    inMessage_ = true;
  } else if (!inMessage_) {
    log_("HCI 0xFC00 fragment without its first: dropped");
    return;
  }
  message_.insert(message_.end(), packet_.begin() + 4, packet_.end());
  if ((descriptor & kLast) == 0) return;
  inMessage_ = false;
  log_("HCI 0xFC00: BCCMD message of " + std::to_string(message_.size()) + " bytes");
  deliver_(kBccmdChannel, true, message_);
}

void ModuleH4::SendReliable(std::uint8_t channel, std::vector<std::uint8_t> payload) {
  if (channel != kBccmdChannel) {
    SendUnreliable(channel, std::move(payload));
    return;
  }
  std::size_t at = 0;
  do {
    const std::size_t part = std::min(kPart, payload.size() - at);
    std::uint8_t descriptor = kBccmdChannel;
    if (at == 0) descriptor |= kFirst;
    if (at + part == payload.size()) descriptor |= kLast;
    std::vector<std::uint8_t> wire{kEventPacket, 0xFF, static_cast<std::uint8_t>(part + 1), descriptor};
    wire.insert(wire.end(), payload.begin() + static_cast<std::ptrdiff_t>(at),
                payload.begin() + static_cast<std::ptrdiff_t>(at + part));
    send_(wire);
    at += part;
  } while (at < payload.size());
}

void ModuleH4::SendUnreliable(std::uint8_t, std::vector<std::uint8_t> payload) {
  std::vector<std::uint8_t> wire{kEventPacket};
  wire.insert(wire.end(), payload.begin(), payload.end());
  send_(wire);
}

}  // namespace quillon::sim
