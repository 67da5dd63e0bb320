// The emulated device's root folder on Linux.
//
// QUILLON_DEVICE_ROOT chooses it; without it the root is "$HOME/.local/share/quillon/device"
// (or "/tmp/quillon-device-<uid>" when HOME is not set), created on first use. A root chosen
// through the variable must exist: a missing one is an error, never created behind the user's back.
//
// Below the root live the device's folders (device path "\Windows\StartUp" is
// "<root>/Windows/StartUp"), the registry file "registry.reg", the port links "dosdevices/comN"
// and the record of restart requests. Named kernel objects of the device carry a prefix derived
// from the root, so that two devices (two tests) never share a mutex or a trace.
#pragma once

#include <string>
#include <string_view>

#include "platform/errors.h"

namespace quillon::platform::posix {

class DeviceRoot {
 public:
  // The root from the environment, as described above.
  static DeviceRoot FromEnvironment();
  explicit DeviceRoot(std::string path, bool createWhenMissing = false);

  const std::string& Path() const { return path_; }
  // kSuccess when the root folder exists (creating the default one when needed).
  ErrorCode Ensure() const;
  // Host path of a device path ("\\Windows\\StartUp\\x.lnk"); names are matched without regard
  // to case where the exact name does not exist. Other paths are host paths and stay as they are.
  std::string HostPath(std::wstring_view devicePath) const;
  // Host path of a port name: "COM4:", "COM4" and "\\.\COM4" become "<root>/dosdevices/com4";
  // an absolute path stays as it is. Empty when the name is neither.
  std::string PortPath(std::wstring_view portName) const;
  // Prefix for named objects of this device, such as "quillon-1a2b3c4d5e6f7081".
  const std::string& ObjectPrefix() const { return objectPrefix_; }

 private:
  std::string path_;
  bool createWhenMissing_;
  std::string objectPrefix_;
};

// Maps errno values to the platform's error codes.
ErrorCode ErrorFromErrno(int error);

}  // namespace quillon::platform::posix
