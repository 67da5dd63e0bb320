// System on Windows. On a Windows CE device the restart goes to the kernel's reboot control; a
// desktop Windows machine is never restarted: the request is appended to the file
// "restart-requests" in the device root (QUILLON_DEVICE_ROOT, else the temporary folder) and the
// program ends, as the Linux emulated device does.
#pragma once

#include <string>

#include "platform/system.h"

namespace quillon::platform::win32 {

class Win32System final : public System {
 public:
  explicit Win32System(std::wstring recordFolder) : recordFolder_(std::move(recordFolder)) {}
  std::wstring OwnPath() override;
  ErrorCode RequestRestart() override;
  bool ErrorOutputIsTerminal() override;
  void KeepRunningWhenOutputCloses() override;
  ErrorCode RecordRestartRequest();

 private:
  std::wstring recordFolder_;
};

}  // namespace quillon::platform::win32
