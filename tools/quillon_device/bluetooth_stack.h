// The emulated Bluetooth stack of the device: what the handheld's own stack does at boot with
// the module's serial port.
//
// It reads its registry keys (ReadStackKeys). When a transport names an unmarked port, it opens
// that port exclusively at the transport's rate (8 data bits, even parity, one stop bit) and
// brings a BCSP link up with the module. When the link is up the stack keeps the port until the
// next boot, as the real stack keeps it while the device runs, and notes the port and rate in
// its HCI cache key. A port it cannot reach is let go again.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/serial_device.h"

namespace quillon::device {

using ReportLine = std::function<void(const std::string& line)>;

struct StackRoles {
  platform::Registry& registry;
  platform::SerialDevices& serial;
  platform::Clock& clock;
};

// The stack of one boot. It holds the module's port while it lives (when it came up).
class BluetoothStack {
 public:
  static constexpr std::uint32_t kDefaultWaitMs = 2000;

  // Reads the keys and, when a transport is to start, waits at most `waitMs` for the link.
  // Every finding goes to `report`, ending with one of
  //   "stack up on COM4: at 921600", "stack cannot reach the module at 115200",
  //   "stack cannot open COM4: (error 5)", "stack not started: ...".
  static std::unique_ptr<BluetoothStack> Boot(StackRoles roles, std::uint32_t waitMs, const ReportLine& report);

  bool Up() const { return port_ != nullptr; }

 private:
  std::unique_ptr<platform::SerialDevice> port_;
};

}  // namespace quillon::device
