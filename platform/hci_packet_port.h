// A port that carries HCI packets to a module and back: an H4 UART, or the Linux kernel's HCI
// socket. Commands go out whole; events come back whole, each as code, declared length and
// parameters, whatever else the port carries being left out (and counted).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "platform/errors.h"
#include "platform/kernel_objects.h"
#include "platform/serial_device.h"

namespace quillon::platform {

class HciPacketPort {
 public:
  virtual ~HciPacketPort() = default;  // closes the port
  // Opens `name` (a serial port at `baudRate`, or a device such as "hci0").
  virtual ErrorCode Open(std::wstring_view name, std::uint32_t baudRate) = 0;
  // One command: opcode (little-endian), parameter length, parameters.
  virtual ErrorCode SendCommand(std::span<const std::uint8_t> command) = 0;
  // Waits at most timeoutMs for the next event, or for `stop`. kInput with *event filled.
  virtual InputWait NextEvent(std::vector<std::uint8_t>* event, Event* stop, std::uint32_t timeoutMs) = 0;
  // Packets of other kinds than events (and bytes that began none), left out.
  virtual std::uint32_t PacketsIgnored() const = 0;
};

// Where HCI sockets come from: the Linux kernel's, on Linux only (null elsewhere).
class HciSockets {
 public:
  virtual ~HciSockets() = default;
  virtual std::unique_ptr<HciPacketPort> Create() = 0;
};

}  // namespace quillon::platform
