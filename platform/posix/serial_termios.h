// The termios form of a line state, kept apart from the device calls so that it can be checked
// without a serial port (a pseudo-terminal ignores parity).
#pragma once

#include <cstdint>

#include "platform/errors.h"
#include "platform/serial_device.h"

namespace quillon::platform::posix {

struct TermiosSettings {
  std::uint32_t inputFlags = 0;
  std::uint32_t outputFlags = 0;
  std::uint32_t controlFlags = 0;
  std::uint32_t localFlags = 0;
  std::uint32_t speed = 0;  // bits per second, through the kernel's arbitrary-rate interface
};

// Raw mode: no echo, no line editing, no character translation, reads that return what is there.
// kErrorInvalidParameter for what the line cannot do (no baud rate, 1.5 stop bits, DSR flow control).
ErrorCode BuildTermios(const LineSettings& settings, TermiosSettings* out);

}  // namespace quillon::platform::posix
