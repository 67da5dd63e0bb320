// The device restart that the "Reset" button asks for, held back until the window has ended: the
// request closes the dialog as the close request does (the working thread is waited for, the
// screen is handed back, the trace is shut down), and the program's end then passes the request
// on to the platform, which restarts the device.
#pragma once

#include <functional>

#include "platform/system.h"

namespace quillon::ui {

class DeferredRestart final : public platform::System {
 public:
  explicit DeferredRestart(platform::System& platform) : platform_(platform) {}

  // Called when a restart is asked for; typically posts the dialog's close request.
  void OnRequest(std::function<void()> close) { close_ = std::move(close); }
  bool Requested() const { return requested_; }
  // Passes a held request on; on a real device it does not return.
  platform::ErrorCode RestartNow() { return platform_.RequestRestart(); }

  std::wstring OwnPath() override { return platform_.OwnPath(); }
  platform::ErrorCode RequestRestart() override;
  bool ErrorOutputIsTerminal() override { return platform_.ErrorOutputIsTerminal(); }
  void KeepRunningWhenOutputCloses() override { platform_.KeepRunningWhenOutputCloses(); }

 private:
  platform::System& platform_;
  std::function<void()> close_;
  bool requested_ = false;
};

}  // namespace quillon::ui
