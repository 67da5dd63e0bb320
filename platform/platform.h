// The platform: one object per role. Code that needs the operating system is handed the roles it
// uses; each program's main builds them (NativePlatform) and tests build fakes.
#pragma once

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/folder_listing.h"
#include "platform/hci_packet_port.h"
#include "platform/kernel_objects.h"
#include "platform/registry.h"
#include "platform/serial_device.h"
#include "platform/system.h"
#include "platform/window_messages.h"

namespace quillon::platform {

// Borrowed roles; a role a program does not use may stay null.
struct Platform {
  Clock* clock = nullptr;
  KernelObjects* kernel = nullptr;
  Files* files = nullptr;
  FolderListing* folders = nullptr;
  Registry* registry = nullptr;
  SerialDevices* serial = nullptr;
  System* system = nullptr;
  WindowMessages* messages = nullptr;
  HciSockets* hci = nullptr;  // null where the system has none
};

}  // namespace quillon::platform
