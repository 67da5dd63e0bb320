// The simulated module's own BCSP link layer, written apart from the system's engine so that a
// fault in one cannot hide behind the same fault in the other. It shares only the pure codec.
//
// Event-driven with explicit time: OnByte for every byte from the host, Tick to run timers.
// Frames to the host go out through `send` as finished wire bytes.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "tools/module_simulator/module_transport.h"

namespace quillon::sim {

class ModuleLink final : public ModuleTransport {
 public:
  using Deliver = std::function<void(std::uint8_t channel, bool reliable, std::span<const std::uint8_t> payload)>;
  using Send = std::function<void(const std::vector<std::uint8_t>& wire)>;
  using Log = std::function<void(const std::string& line)>;

  ModuleLink(std::uint64_t linkIntervalUs, std::uint64_t resendUs, Deliver deliver, Send send, Log log);

  // Back to the start of link establishment: sequence numbers 0, nothing queued.
  void Restart(std::uint64_t nowUs) override;
  void OnByte(std::uint8_t byte, std::uint64_t nowUs) override;
  void Tick(std::uint64_t nowUs) override;
  void SendReliable(std::uint8_t channel, std::vector<std::uint8_t> payload) override;
  void SendUnreliable(std::uint8_t channel, std::vector<std::uint8_t> payload) override;

  State LinkState() const override { return state_; }

 private:
  void HandleFrame(std::uint64_t nowUs);
  void SendFrame(std::uint8_t seq, bool reliable, std::uint8_t channel, std::span<const std::uint8_t> payload,
                 const char* what);
  void SendLinkMessage(int index);

  std::uint64_t linkIntervalUs_;
  std::uint64_t resendUs_;
  Deliver deliver_;
  Send send_;
  Log log_;

  State state_ = State::kShy;
  std::uint64_t nextLinkMessageUs_ = 0;
  std::uint8_t txSeq_ = 0;       // seq of the outstanding (or next) reliable packet
  std::uint8_t rxExpected_ = 0;  // seq expected next from the host
  bool ackDue_ = false;
  bool outstanding_ = false;
  std::vector<std::uint8_t> outstandingPayload_;
  std::uint8_t outstandingChannel_ = 0;
  std::uint64_t resendAtUs_ = 0;
  std::deque<std::pair<std::uint8_t, std::vector<std::uint8_t>>> reliableQueue_;

  // Receiver.
  std::vector<std::uint8_t> frame_;
  bool inFrame_ = false;
  bool escaped_ = false;
};

}  // namespace quillon::sim
