// The dialog host: dialogs from their templates, control texts, a drop-down list, message boxes,
// messages posted to a dialog, the message loop and the search for a running instance.
//
// Shaped after the Windows user-interface calls. The Windows front end is a thin wrapper over
// them; the Linux front end draws the same dialog in a terminal. A dialog's logic is a
// DialogProcedure that the host calls on the host's thread; it acts on its window through the
// DialogWindow it is given. Only DialogWindow::Post may be called from other threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/errors.h"

namespace quillon::platform {

// Commands that the platform sends by itself: Enter on a dialog without a default button, and
// Esc or the window's close box.
inline constexpr int kCommandOk = 1;
inline constexpr int kCommandCancel = 2;

// The first message number free for a program's own posted messages.
inline constexpr std::uint32_t kFirstUserMessage = 0x400;
// The close request (the window's close box, or posted by the program): DialogProcedure::OnClose,
// whose default sends kCommandCancel.
inline constexpr std::uint32_t kCloseMessage = 0x0010;

enum class MessageBoxButtons { kOk, kYesNo };
enum class MessageBoxIcon { kNone, kError, kQuestion };
enum class MessageBoxAnswer { kOk, kYes, kNo, kFailed };

class DialogWindow {
 public:
  virtual ~DialogWindow() = default;
  virtual void Show() = 0;
  // The icon resource as the window's big and small icon (a terminal shows none).
  virtual void SetIcon(int iconId) = 0;
  virtual void SetControlText(int id, std::wstring_view text) = 0;
  // The control's text into `text` (terminated, cut to fit); returns its length in characters.
  virtual std::size_t ControlText(int id, std::span<wchar_t> text) = 0;
  // The number written as an unsigned decimal.
  virtual void SetControlUnsigned(int id, std::uint32_t value) = 0;
  virtual void AddListItem(int id, std::wstring_view text) = 0;
  // Selects the first item that begins with `prefix` (without regard to case), searching after
  // the selected item and wrapping around. False when no item matches.
  virtual bool SelectListItem(int id, std::wstring_view prefix) = 0;
  virtual MessageBoxAnswer ShowMessageBox(std::wstring_view text, std::wstring_view caption, MessageBoxButtons buttons,
                                          MessageBoxIcon icon) = 0;
  // Queues a message for this dialog's procedure; any thread may call it. False when the
  // window is gone or the queue is full.
  virtual bool Post(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) = 0;
  // Ends a modal dialog with `result`.
  virtual void End(int result) = 0;
  // Destroys a modeless dialog. The window object stays usable until the procedure's current
  // call returns (for PostQuit), and not after.
  virtual void Destroy() = 0;
  // Ends the message loop with `exitCode` once the current message is handled.
  virtual void PostQuit(int exitCode) = 0;
};

class DialogProcedure {
 public:
  virtual ~DialogProcedure() = default;
  // The dialog exists, its controls show their template texts, it is not yet visible.
  virtual void OnInitDialog(DialogWindow& /*window*/) {}
  // A command: a button pressed, Enter (the default button's id, else kCommandOk), Esc
  // (kCommandCancel). True when handled. An unhandled kCommandOk or kCommandCancel ends a modal
  // dialog with that result.
  virtual bool OnCommand(DialogWindow& window, int id) = 0;
  // The close request. False hands it to the default handling: the command kCommandCancel.
  virtual bool OnClose(DialogWindow& /*window*/) { return false; }
  // A posted message of the program's own (kFirstUserMessage and above). True when handled.
  virtual bool OnMessage(DialogWindow& /*window*/, std::uint32_t /*message*/, std::uint32_t /*wParam*/,
                         std::uint32_t /*lParam*/) {
    return false;
  }
};

struct WindowClass {
  std::wstring_view name;
  int iconId = 0;
  bool redrawOnResize = true;
  bool whiteBackground = true;
};

class DialogHost {
 public:
  virtual ~DialogHost() = default;
  // The shell's extra controls; harmless to call more than once.
  virtual void InitCommonControls() = 0;
  // String resource `id` into `text` (terminated, cut to fit); returns its length, 0 when missing.
  virtual std::size_t LoadResourceString(int id, std::span<wchar_t> text) = 0;
  // Looks for a running window of the class (on this device); when found, brings it and the
  // windows it owns to the front and returns true.
  virtual bool FindAndActivate(std::wstring_view className) = 0;
  // kSuccess, or an error when the class cannot be registered (on Linux: a window of this class
  // already runs on the device).
  virtual ErrorCode RegisterWindowClass(const WindowClass& windowClass) = 0;
  // Creates dialog `templateId` without owner, hidden. The window lives until it is destroyed or
  // the host ends; `procedure` must outlive it. Null on failure.
  virtual DialogWindow* CreateModeless(int templateId, DialogProcedure& procedure) = 0;
  // Handles messages until PostQuit; returns its exit code.
  virtual int RunMessageLoop() = 0;
  // Creates dialog `templateId`, shows it and handles its messages until End; returns End's
  // result, or -1 when the dialog cannot be created.
  virtual int RunModal(int templateId, DialogProcedure& procedure) = 0;
};

}  // namespace quillon::platform
