// `quillon-device run`: the device's life. Each boot starts the Bluetooth stack, then the
// shortcuts of "\Windows\StartUp" with the command lines they hold (or, on the first boot when
// no shortcut starts, the program "\Program Files\Quillon\quillon" itself). A program that
// asks for a restart (a line appended to <root>/restart-requests) ends the boot: the other
// programs are stopped, the stack lets go of its port, and the device boots again. The life
// ends when the programs of a boot end without asking for a restart, or when nothing starts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/files.h"
#include "platform/folder_listing.h"
#include "platform/posix/device_root.h"
#include "tools/quillon_device/bluetooth_stack.h"

namespace quillon::device {

struct DeviceRoles {
  const platform::posix::DeviceRoot& root;
  platform::Registry& registry;
  platform::SerialDevices& serial;
  platform::Clock& clock;
  platform::Files& files;
  platform::FolderListing& folders;
};

struct BootLoopOptions {
  std::uint32_t stackWaitMs = BluetoothStack::kDefaultWaitMs;
  int maxBoots = 20;  // a device that restarts without end is stopped after this many boots
  std::function<bool()> switchedOff = [] { return false; };  // asked between steps (Ctrl-C)
  // At every boot after the first, before the stack starts: the module loses power with the
  // device and comes back from its store. False when it does not come back.
  std::function<bool()> powerCycleModule = [] { return true; };
};

inline constexpr int kDeviceSwitchedOff = 130;

// 0 when the life ended by itself, 1 when it was stopped after maxBoots or the module did not come
// back from a power cycle, kDeviceSwitchedOff when
// switchedOff() said so (the programs that ran are stopped first).
int RunDevice(const DeviceRoles& roles, const BootLoopOptions& options, const ReportLine& report);

}  // namespace quillon::device
