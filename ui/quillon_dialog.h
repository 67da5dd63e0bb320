// The program's one window: the COM port field, the list of the PSR files beside the program, the
// status line and the command button ("Start", "Stop", "Reset", "Close"), and the working thread
// that the button starts and stops.
//
// Written against the platform's dialog host; the Windows dialog and the terminal dialog show it.
// It is also the dialog record's front end: the working thread reports through it, and whatever
// the working thread asks of the window (a status refresh, the button's text, a message box) is
// posted to the dialog's thread and done there, so that no front end is ever touched from two
// threads and the dialog's thread never waits for the working thread while that one waits for it.
//
// The working thread and its stop event: the event is owned jointly by the dialog and the thread,
// so that it stays valid until the thread has really ended, even when the dialog has stopped
// waiting for it. A thread that did not end within the wait stays known to the dialog, and no new
// start runs beside it.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "platform/dialog_host.h"
#include "platform/folder_listing.h"
#include "platform/kernel_objects.h"
#include "platform/system.h"
#include "platform/thread.h"
#include "setup/dialog_record.h"
#include "setup/quillon_setup.h"
#include "setup/setup_results.h"
#include "setup/setup_roles.h"

namespace quillon::ui {

// Private messages of the dialog (both parameters 0).
inline constexpr std::uint32_t WM_CHANGE_BUTTON = 0x601;     // the working thread changed the button's text
inline constexpr std::uint32_t WM_SHOW_MESSAGE_BOX = 0x602;  // the working thread asks a message box
inline constexpr std::uint32_t WM_CLOSE_REQUEST = 0x603;     // the close request, as the "Close" button posts it

// The dialog's result codes besides 111 and 114 (setup_results.h): a previous working thread was asked to stop and has
// not ended yet: no second one is started.
inline constexpr int kThreadStillRunning = 128;

inline constexpr std::uint32_t kStopWaitMs = 5000;
inline constexpr std::size_t kPsrSlots = 10;
inline constexpr std::size_t kNameChars = 260;  // a name slot, its terminating zero included
// The mutex that the running Quillon owns for its whole life.
inline constexpr wchar_t kInstanceMutexName[] = L"QuillonSetup";
using NameSlot = std::array<wchar_t, kNameChars>;

struct DialogRoles {
  platform::KernelObjects& kernel;
  platform::FolderListing& folders;
  platform::System& system;
};

class QuillonDialog final : public platform::DialogProcedure, public DialogHost {
 public:
  QuillonDialog(const DialogRoles& roles, const SetupRoles& setupRoles, ProgrammingRun programming, ModuleProbe probe);
  ~QuillonDialog() override;
  QuillonDialog(const QuillonDialog&) = delete;
  QuillonDialog& operator=(const QuillonDialog&) = delete;

  DialogRecord& Record() { return record_; }
  QuillonSetup& Setup() { return setup_; }

  // The window's messages.
  void OnInitDialog(platform::DialogWindow& window) override;
  bool OnCommand(platform::DialogWindow& window, int id) override;
  // The platform's close request (the window's close box, Ctrl-C in the terminal).
  bool OnClose(platform::DialogWindow& window) override;
  bool OnMessage(platform::DialogWindow& window, std::uint32_t message, std::uint32_t wParam,
                 std::uint32_t lParam) override;

  // The dialog's operations, on the dialog's thread.
  bool InitDialog();
  void OnBnClickedStartStop();
  // 0, 111, 114, or 128 when a previous working thread still runs after its stop.
  int StartWorkingThread();
  int StopWorkingThread(std::uint32_t timeoutMs);
  // The names of the PSR files beside the program, at most slots.size(); *count is in the number
  // of slots and out the number of names stored. Always 0.
  int ListPsrFiles(std::span<NameSlot> slots, std::size_t* count);
  int OnUpdateControls();
  void OnClose();
  // Posts the close request, as the "Close" button does (for a restart asked outside the window).
  void RequestClose() { PostToDialog(WM_CLOSE_REQUEST); }

  // After the window has ended: waits up to `timeoutMs` for a working thread that still runs.
  // True when none runs any more.
  bool WaitForWorkingThreadEnd(std::uint32_t timeoutMs);
  // Whether a working thread, tracked or left behind by a stop, still runs.
  bool WorkingThreadRunning();

  // The record's reporting, from either thread.
  void PostUpdateControls() override;
  void ShowTexts(const DialogTexts& texts) override;
  void SetButtonText(std::wstring_view text) override;
  MessageBoxAnswer ShowMessageBox(std::wstring_view text, std::wstring_view caption, MessageBoxButtons buttons,
                                  MessageBoxIcon icon) override;

 private:
  struct BoxRequest {
    std::wstring text;
    std::wstring caption;
    MessageBoxButtons buttons;
    MessageBoxIcon icon;
    std::optional<MessageBoxAnswer> answer;
  };

  bool OnDialogThread() const { return std::this_thread::get_id() == dialogThread_; }
  bool PostToDialog(std::uint32_t message);
  // Copies the controls' port and PSR file into the record.
  void TakeTexts();
  void ShowNow(const DialogTexts& texts);
  void SelectPsrFile(std::wstring_view name);
  void AnswerBoxRequest();
  void ApplyButtonText();
  // Wakes a working thread that waits for a message box: it is answered at once while the dialog
  // stops or has ended.
  void RefuseMessageBoxes(bool refuse);
  // Stops the working thread and ends the dialog with `result`.
  void EndDialog(int result, bool takeTexts);
  void TraceInfo(std::wstring_view text);

  // Owns the mutex that tells every other start of the program that a setup may be running.
  class InstanceLock {
   public:
    InstanceLock() = default;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock() {
      if (mutex_) mutex_->Release();
    }
    // True when this process now owns the lock; false when another holds it or it cannot be had.
    bool Take(platform::KernelObjects& kernel);

   private:
    std::unique_ptr<platform::NamedMutex> mutex_;
  };

  DialogRoles roles_;
  // Declared early so that it is let go last, after the working thread's objects.
  InstanceLock instance_;
  DialogRecord record_;
  QuillonSetup setup_;
  std::thread::id dialogThread_;
  // Set on the dialog's thread while the window exists; posting threads read it under the lock.
  std::mutex windowLock_;
  platform::DialogWindow* window_ = nullptr;

  int m_icon = 0;
  std::unique_ptr<platform::Thread> m_workingThread;
  std::shared_ptr<platform::Event> m_stopEvent;
  // A working thread that did not end within the stop's wait; the dialog no longer tracks it but
  // starts no other one until it has ended.
  std::unique_ptr<platform::Thread> lingering_;

  std::mutex buttonLock_;
  std::optional<std::wstring> pendingButton_;

  std::mutex boxLock_;
  std::condition_variable boxAnswered_;
  std::deque<std::shared_ptr<BoxRequest>> boxRequests_;
  bool refuseBoxes_ = false;
};

}  // namespace quillon::ui
