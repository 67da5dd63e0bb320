// The baud-rate viewer as a program: the start-up that creates its one modeless dialog, and the
// message loop.
#pragma once

#include "platform/dialog_host.h"
#include "platform/registry.h"
#include "viewer/corvin_dialog.h"

namespace quillon::viewer {

// The longest string resource the start-up loads, in characters.
inline constexpr std::size_t kMaxResourceString = 100;

class CorvinApp {
 public:
  CorvinApp(platform::DialogHost& host, platform::Registry& registry) : host_(host), dialog_(registry) {}

  // False when the program ends at once (exit code 0): another Corvin runs and was brought to
  // the front, or the window class or the dialog cannot be made.
  bool StartUp();
  // The quit message's exit code.
  int MessageLoop() { return host_.RunMessageLoop(); }

 private:
  platform::DialogHost& host_;
  CorvinDialog dialog_;
  platform::DialogWindow* window_ = nullptr;
};

// StartUp, then the message loop; the program's exit code.
int RunCorvin(platform::DialogHost& host, platform::Registry& registry);

}  // namespace quillon::viewer
