// The simulated module as a serial device of this process: what the port writes goes to the
// module, reads take what the module has sent by the clock's time. Fast tests use it with a
// manual clock, so that no time passes but what the program sleeps.
#pragma once

#include "platform/clock.h"
#include "platform/serial_device.h"
#include "tools/module_simulator/module_simulator.h"

namespace quillon::sim {

class InProcessSerialDevices final : public platform::SerialDevices {
 public:
  InProcessSerialDevices(ModuleSimulator& module, platform::Clock& clock) : module_(module), clock_(clock) {}
  std::unique_ptr<platform::SerialDevice> Open(std::wstring_view name, platform::ErrorCode* error) override;
  // Only one program may have the line open.
  bool InUse() const { return inUse_; }

 private:
  friend class InProcessDevice;
  ModuleSimulator& module_;
  platform::Clock& clock_;
  bool inUse_ = false;
};

}  // namespace quillon::sim
