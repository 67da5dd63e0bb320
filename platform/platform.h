// The platform: one object per role, chosen once when the program starts.
//
// The system's code reaches the operating system only through Current(). Tests install their own
// set of roles with ScopedPlatform, which restores the previous set when it ends.
#pragma once

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/folder_listing.h"
#include "platform/kernel_objects.h"
#include "platform/registry.h"
#include "platform/serial_device.h"
#include "platform/system.h"
#include "platform/window_messages.h"

namespace quillon::platform {

struct Platform {
  Clock* clock = nullptr;
  KernelObjects* kernel = nullptr;
  Files* files = nullptr;
  FolderListing* folders = nullptr;
  Registry* registry = nullptr;
  SerialDevices* serial = nullptr;
  System* system = nullptr;
  WindowMessages* messages = nullptr;
};

// The roles in force: the test's set when one is installed, otherwise the back end's.
const Platform& Current();

// The back end's own roles, built on first use.
const Platform& Native();

class ScopedPlatform {
 public:
  explicit ScopedPlatform(const Platform& replacement);
  ~ScopedPlatform();
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  const Platform* previous_;
};

}  // namespace quillon::platform
