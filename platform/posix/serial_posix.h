// Serial devices on Linux (termios). Ports are opened exclusively: TIOCEXCL and an advisory
// lock, so that a second program gets kErrorAccessDenied as on Windows.
#pragma once

#include "platform/posix/device_root.h"
#include "platform/serial_device.h"

namespace quillon::platform::posix {

class PosixSerialDevices final : public SerialDevices {
 public:
  explicit PosixSerialDevices(const DeviceRoot& root) : root_(root) {}
  std::unique_ptr<SerialDevice> Open(std::wstring_view name, ErrorCode* error) override;
  std::wstring FileOf(std::wstring_view name) override;

 private:
  const DeviceRoot& root_;
};

}  // namespace quillon::platform::posix
