// The emulated stack's side of BCSP link establishment: SYNC until the module answers with
// SYNC RESP, then CONF until it answers with CONF RESP; the module's own SYNC and CONF are
// answered all along. Nothing beyond: the stack only shows that it reaches the module.
//
// Written apart from the system's link engine; it shares only the pure codec. Purely reactive,
// time passed in: OnBytes for what arrived, Poll for what to send now.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace quillon::device {

class LinkEstablishment {
 public:
  static constexpr std::uint32_t kRepeatMs = 250;

  void OnBytes(std::span<const std::uint8_t> bytes);
  // Wire bytes to send at `nowMs` (answers at once, SYNC or CONF every kRepeatMs).
  std::vector<std::uint8_t> Poll(std::uint32_t nowMs);
  bool Up() const { return state_ == State::kUp; }

 private:
  enum class State { kSyncing, kConfiguring, kUp };
  void OnFrame();
  void Queue(int message);

  State state_ = State::kSyncing;
  bool sentOnce_ = false;
  std::uint32_t lastSentMs_ = 0;
  std::vector<std::uint8_t> answers_;
  std::vector<std::uint8_t> frame_;
  bool inFrame_ = false;
  bool escaped_ = false;
};

}  // namespace quillon::device
