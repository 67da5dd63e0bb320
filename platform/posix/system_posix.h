// System on Linux: the program's path from /proc, and the emulated device's restart.
//
// A restart request is appended to "<root>/restart-requests" (time and program), and the program
// then ends as a real restart would end it. The device emulator boots the device afterwards.
#pragma once

#include "platform/posix/device_root.h"
#include "platform/system.h"

namespace quillon::platform::posix {

class PosixSystem final : public System {
 public:
  explicit PosixSystem(const DeviceRoot& root) : root_(root) {}
  std::wstring OwnPath() override;
  ErrorCode RequestRestart() override;
  bool ErrorOutputIsTerminal() override;
  void KeepRunningWhenOutputCloses() override;
  // Records the request without ending the program; RequestRestart's first half.
  ErrorCode RecordRestartRequest();

 private:
  const DeviceRoot& root_;
};

}  // namespace quillon::platform::posix
