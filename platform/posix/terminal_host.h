// The dialog host on Linux: dialogs drawn with ncurses in the terminal the program runs in.
//
// A window class is a lock of the emulated device ("<objects>.class.<name>" in /dev/shm, locked
// while the program that registered the class runs, removed when it ends); the lock file names the running program's
// message queue, through which a second start asks the first one to come to the front. Coming to
// the front means: the terminal beeps, and inside tmux the program's window and pane are selected.
//
// While the dialogs are on the screen, what the program writes to standard error would land in
// the middle of them: it is kept aside instead, its last line shows at the bottom of the screen,
// and all of it goes to standard error when the screen is given back.
#pragma once

#include <sys/types.h>

#include <signal.h>

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dialog_host.h"
#include "platform/dialog_template.h"
#include "platform/terminal/terminal_dialog.h"
#include "platform/terminal/terminal_message_box.h"
#include "platform/window_messages.h"

struct screen;  // ncurses' SCREEN

namespace quillon::platform::posix {

class TerminalDialogHost final : public DialogHost {
 public:
  // `resources`, `messages` must outlive the host; `objectPrefix` names the device's objects.
  TerminalDialogHost(const DialogResources& resources, std::string objectPrefix, WindowMessages& messages);
  ~TerminalDialogHost() override;
  TerminalDialogHost(const TerminalDialogHost&) = delete;
  TerminalDialogHost& operator=(const TerminalDialogHost&) = delete;

  // True when standard input and output are a terminal that ncurses can draw on.
  static bool HasTerminal();

  void InitCommonControls() override {}
  std::size_t LoadResourceString(int id, std::span<wchar_t> text) override;
  bool FindAndActivate(std::wstring_view className) override;
  ErrorCode RegisterWindowClass(const WindowClass& windowClass) override;
  DialogWindow* CreateModeless(int templateId, DialogProcedure& procedure) override;
  int RunMessageLoop() override;
  int RunModal(int templateId, DialogProcedure& procedure) override;

 private:
  class Window;
  struct PostedMessage {
    int window;
    std::uint32_t message, wParam, lParam;
  };
  struct OpenBox {
    terminal::TerminalMessageBox box;
    std::optional<MessageBoxAnswer> answer;
  };

  Window* Create(int templateId, DialogProcedure& procedure);
  bool StartScreen();
  void StopScreen();
  void RestoreErrorOutput();
  void ReadDiagnostics();
  // One round of the loop: draw, wait briefly for a key and handle it, deliver posted messages.
  void Pump();
  void Draw();
  void HandleKey(const terminal::Key& key);
  void DeliverCloseSignal();
  void Command(Window& window, int id);
  void DeliverPosted();
  void Activate();
  bool Post(int window, std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam);
  MessageBoxAnswer RunMessageBox(terminal::TerminalMessageBox box);
  std::string ClassFile(std::wstring_view className) const;

  const DialogResources& resources_;
  std::string prefix_;
  WindowMessages& messages_;
  int classLock_ = -1;
  std::string classPath_;
  std::unique_ptr<MessageQueue> activation_;
  std::vector<std::unique_ptr<Window>> windows_;  // kept until the host ends, so that posting to a
                                                  // destroyed window fails safely
  std::vector<OpenBox*> boxes_;
  std::mutex postedLock_;
  std::deque<PostedMessage> posted_;
  ::screen* screen_ = nullptr;  // ncurses' screen, while the dialogs are up
  int previousForeground_ = -1;
  struct sigaction previousSignals_[3] = {};  // SIGINT, SIGTERM, SIGHUP before the screen started  // the terminal's
                                              // foreground group before the screen started
  int savedErrorOutput_ = -1;                 // standard error while the screen is up
  int diagnostics_ = -1;                      // the file that takes its place
  off_t diagnosticsRead_ = 0;
  std::string lastDiagnostic_;
  bool quit_ = false;
  int exitCode_ = 0;
};

}  // namespace quillon::platform::posix
