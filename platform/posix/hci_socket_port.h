// HCI through the Linux kernel: a raw HCI socket bound to a device ("hci0"), its filter letting
// event packets and the vendor event through. Opening needs no privilege; sending does (root or
// CAP_NET_RAW), and the kernel says so only at the first send.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "platform/hci_packet_port.h"
#include "platform/platform.h"

namespace quillon::platform::posix {

class HciSocketPort final : public HciPacketPort {
 public:
  explicit HciSocketPort(const Platform& platform) : platform_(platform) {}
  ~HciSocketPort() override;
  HciSocketPort(const HciSocketPort&) = delete;
  HciSocketPort& operator=(const HciSocketPort&) = delete;

  ErrorCode Open(std::wstring_view name, std::uint32_t baudRate) override;
  ErrorCode SendCommand(std::span<const std::uint8_t> command) override;
  InputWait NextEvent(std::vector<std::uint8_t>* event, Event* stop, std::uint32_t timeoutMs) override;
  std::uint32_t PacketsIgnored() const override { return ignored_; }

 private:
  const Platform& platform_;
  int socket_ = -1;
  std::uint32_t ignored_ = 0;
};

class PosixHciSockets final : public HciSockets {
 public:
  // The roles the sockets use (the clock); they are built beside it and outlive it.
  explicit PosixHciSockets(const Platform& roles) : roles_(roles) {}
  std::unique_ptr<HciPacketPort> Create() override { return std::make_unique<HciSocketPort>(roles_); }

 private:
  const Platform& roles_;
};

// "hci0" as the device number 0; -1 for anything else.
int HciDeviceNumber(std::wstring_view name);

}  // namespace quillon::platform::posix
