#include "psconfig/hci_bccmd.h"

#include <algorithm>

namespace quillon {

std::vector<std::vector<std::uint8_t>> BccmdCommands(std::span<const std::uint8_t> message) {
  std::vector<std::vector<std::uint8_t>> commands;
  std::size_t at = 0;
  do {
    const std::size_t part = std::min(kFragmentBytes, message.size() - at);
    std::uint8_t descriptor = kDescriptorBccmdChannel;
    if (at == 0) descriptor |= kDescriptorFirst;
    if (at + part == message.size()) descriptor |= kDescriptorLast;
    std::vector<std::uint8_t> command{static_cast<std::uint8_t>(kHciBccmdOpcode & 0xFF),
                                      static_cast<std::uint8_t>(kHciBccmdOpcode >> 8),
                                      static_cast<std::uint8_t>(part + 1), descriptor};
    command.insert(command.end(), message.begin() + static_cast<std::ptrdiff_t>(at),
                   message.begin() + static_cast<std::ptrdiff_t>(at + part));
    commands.push_back(std::move(command));
    at += part;
  } while (at < message.size());
  return commands;
}

bool BccmdEventAssembler::Take(std::span<const std::uint8_t> event, std::vector<std::uint8_t>* message) {
  if (event.size() < 2 || event.size() - 2 != event[1]) {
    ++counts_.badLength;
    return false;
  }
  if (event[0] != kHciVendorEvent) {
    ++counts_.otherEvents;
    return false;
  }
  if (event.size() < 3 || (event[2] & 0x3F) != kDescriptorBccmdChannel) {
    ++counts_.otherChannel;
    return false;
  }
  const std::uint8_t descriptor = event[2];
  const std::span<const std::uint8_t> part = event.subspan(3);
  if ((descriptor & kDescriptorFirst) != 0) {
    if (inMessage_) ++counts_.outOfOrder;  // the message before it never ended: it is left out
    partial_.clear();
    inMessage_ = true;
  } else if (!inMessage_) {
    ++counts_.outOfOrder;
    return false;
  }
  if (partial_.size() + part.size() > kLongestBccmdMessage) {
    ++counts_.tooLong;
    partial_.clear();
    inMessage_ = false;
    return false;
  }
  partial_.insert(partial_.end(), part.begin(), part.end());
  if ((descriptor & kDescriptorLast) == 0) return false;
  inMessage_ = false;
  *message = std::move(partial_);
  partial_.clear();
  return true;
}

}  // namespace quillon
