// HCI over a UART as the H4 host interface has it: one packet-type byte before each packet
// (0x01 command, 0x04 event), 8 data bits, no parity, one stop bit, RTS/CTS flow control unless
// turned off. No link layer: what is lost is the request layer's to send again.
#pragma once

#include <array>
#include <memory>

#include "platform/hci_packet_port.h"
#include "platform/platform.h"

namespace quillon {

class H4Port final : public platform::HciPacketPort {
 public:
  // A write that is not taken by then has failed (a line held by flow control for good).
  static constexpr std::uint32_t kWriteTimeoutMs = 1000;

  H4Port(const platform::Platform& platform, bool flowControl) : platform_(platform), flowControl_(flowControl) {}
  platform::ErrorCode Open(std::wstring_view name, std::uint32_t baudRate) override;
  platform::ErrorCode SendCommand(std::span<const std::uint8_t> command) override;
  platform::InputWait NextEvent(std::vector<std::uint8_t>* event, platform::Event* stop,
                                std::uint32_t timeoutMs) override;
  std::uint32_t PacketsIgnored() const override { return ignored_; }

  // The H4 reader, for tests: takes one byte; true when it ended an event, then in *event.
  bool TakeByte(std::uint8_t byte, std::vector<std::uint8_t>* event);

 private:
  const platform::Platform& platform_;
  bool flowControl_;
  std::unique_ptr<platform::SerialDevice> device_;
  // The packet being read: its type, the header bytes its length is read from, then its body.
  std::uint8_t type_ = 0;
  std::vector<std::uint8_t> packet_;
  std::size_t wanted_ = 0;
  std::uint32_t ignored_ = 0;
  std::array<std::uint8_t, 256> input_{};
  std::size_t inputAt_ = 0, inputEnd_ = 0;
};

}  // namespace quillon
