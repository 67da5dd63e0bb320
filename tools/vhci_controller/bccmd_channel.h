// The BCCMD channel of an emulated BlueCore on HCI: requests come in the parameters of HCI
// command 0xFC00 and answers go out in vendor-specific events (code 0xFF), both behind a payload
// descriptor byte (bits 0 to 5 the channel, bit 6 the first fragment, bit 7 the last). Pure
// functions and small classes over bytes; nothing here touches a device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "tools/module_simulator/ps_store.h"

namespace quillon::vhci {

inline constexpr std::uint8_t kChannelBccmd = 2;
inline constexpr std::uint8_t kDescriptorChannelBits = 0x3F;
inline constexpr std::uint8_t kDescriptorFirst = 0x40;
inline constexpr std::uint8_t kDescriptorLast = 0x80;

// An HCI command or event carries at most 255 parameter bytes; the descriptor takes one.
inline constexpr std::size_t kMostParameters = 255;
inline constexpr std::size_t kMostFragment = kMostParameters - 1;
// A request longer than four fragments is more than any BCCMD message a host sends (a key of
// 188 values takes two): it is refused whole rather than grown without bound.
inline constexpr std::size_t kMostMessage = 4 * kMostFragment;

// Joins the fragments of one channel's messages. Fragments come as the parameters of one 0xFC00
// command each: the descriptor, then up to 254 message bytes.
class FragmentJoiner {
 public:
  enum class Outcome {
    kPartial,       // a first or middle fragment, kept
    kWhole,         // Message() holds a whole message until the next Take
    kEmpty,         // no descriptor at all
    kOtherChannel,  // a descriptor of another channel: left out, a message being joined is kept
    kOutOfOrder,    // a middle or last fragment with no first fragment before it: left out
    kTooLong,       // the message would pass kMostMessage: what was joined so far is dropped
  };

  explicit FragmentJoiner(std::uint8_t channel) : channel_(channel) {}

  // A first fragment while another message is open drops the open one (counted in Abandoned)
  // and starts anew with this one: the host gave up on the old message.
  Outcome Take(std::span<const std::uint8_t> parameters);
  std::span<const std::uint8_t> Message() const { return message_; }
  std::uint32_t Abandoned() const { return abandoned_; }
  // How many fragments the message in Message() was joined from.
  std::uint32_t Fragments() const { return fragments_; }

 private:
  std::uint8_t channel_;
  bool open_ = false;
  std::uint32_t abandoned_ = 0;
  std::uint32_t fragments_ = 0;
  std::vector<std::uint8_t> message_;
};

// The parameters of the vendor events that carry `message` on `channel`: one with the descriptor
// first|last when it fits in 254 bytes, else first, middle..., last. An empty message is one
// event holding the descriptor alone.
std::vector<std::vector<std::uint8_t>> FragmentMessage(std::span<const std::uint8_t> message, std::uint8_t channel);

// The module behind the channel: the build identifier, PS key reads and writes on an in-memory
// store, and the warm reset, checked as a module checks them (sim::ExamineBccmdRequest).
class BccmdModule {
 public:
  BccmdModule(sim::PsStore store, std::uint16_t buildId) : store_(std::move(store)), buildId_(buildId) {}

  // The response to one whole request (the request's words with the type made a response, its
  // status set and what was asked filled in), or nothing: for a warm reset, which restarts the
  // module instead of answering, and for a message too short to carry a variable.
  std::optional<std::vector<std::uint8_t>> Answer(std::span<const std::uint8_t> request);

  const sim::PsStore& Store() const { return store_; }
  std::uint32_t WarmResets() const { return warmResets_; }

 private:
  sim::PsStore store_;
  std::uint16_t buildId_;
  std::uint32_t warmResets_ = 0;
};

}  // namespace quillon::vhci
