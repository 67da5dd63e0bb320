// The simulated module's H4 host interface, written apart from the system's request layer so
// that a fault in one cannot hide behind the same fault in the other: HCI packets with a type
// byte before each, BCCMD in HCI command 0xFC00 and vendor events (0xFF), both in fragments of
// at most 254 bytes after a payload descriptor. No link layer: what is lost stays lost.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "tools/module_simulator/module_transport.h"

namespace quillon::sim {

class ModuleH4 final : public ModuleTransport {
 public:
  using Deliver = std::function<void(std::uint8_t channel, bool reliable, std::span<const std::uint8_t> payload)>;
  using Send = std::function<void(const std::vector<std::uint8_t>& wire)>;
  using Log = std::function<void(const std::string& line)>;

  ModuleH4(Deliver deliver, Send send, Log log)
      : deliver_(std::move(deliver)), send_(std::move(send)), log_(std::move(log)) {}

  void Restart(std::uint64_t nowUs) override;
  void OnByte(std::uint8_t byte, std::uint64_t nowUs) override;
  void Tick(std::uint64_t) override {}
  // A BCCMD message (channel 2) as vendor events; anything else is taken for a whole HCI event.
  void SendReliable(std::uint8_t channel, std::vector<std::uint8_t> payload) override;
  void SendUnreliable(std::uint8_t channel, std::vector<std::uint8_t> payload) override;
  State LinkState() const override { return State::kGarrulous; }

 private:
  void HandleCommand();

  Deliver deliver_;
  Send send_;
  Log log_;
  std::uint8_t type_ = 0;  // of the packet being read; 0 between packets
  std::vector<std::uint8_t> packet_;
  std::size_t wanted_ = 0;
  std::vector<std::uint8_t> message_;  // BCCMD fragments so far
  bool inMessage_ = false;
};

}  // namespace quillon::sim
