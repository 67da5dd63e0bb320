// What carries the simulated module's messages on its UART: its BCSP link layer, or the H4 host
// interface. Event-driven with explicit time, as the module runs it.
#pragma once

#include <cstdint>
#include <vector>

namespace quillon::sim {

class ModuleTransport {
 public:
  enum class State { kShy, kCurious, kGarrulous };  // no link, SYNC answered, CONF answered

  virtual ~ModuleTransport() = default;
  virtual void Restart(std::uint64_t nowUs) = 0;
  virtual void OnByte(std::uint8_t byte, std::uint64_t nowUs) = 0;
  virtual void Tick(std::uint64_t nowUs) = 0;
  virtual void SendReliable(std::uint8_t channel, std::vector<std::uint8_t> payload) = 0;
  virtual void SendUnreliable(std::uint8_t channel, std::vector<std::uint8_t> payload) = 0;
  // Whether the host can be talked to (a transport without a link layer always can).
  virtual State LinkState() const = 0;
};

}  // namespace quillon::sim
