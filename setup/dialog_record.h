// The dialog record: the members that the setup reads and writes, and the three ways it reports
// to the user (status line, command button, message box), whichever front end shows them.
//
// Two threads use one record: the dialog's thread and the working thread. The status text, the
// port, the PSR file and the direct-programming flag are read and written only under the
// record's lock. The other members are written by the dialog's thread before a working thread
// starts, and by the working thread while it runs; the two never write them at the same time.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/kernel_objects.h"

namespace quillon {

// The private window message that makes the dialog show its texts (both parameters 0).
inline constexpr std::uint32_t WM_UPDATE_CONTROLS = 0x600;

// The command button's texts in the string table.
inline constexpr int kStringStart = 129;
inline constexpr int kStringStop = 130;
inline constexpr int kStringReset = 131;
inline constexpr int kStringClose = 132;

// The string table's text for `id`; empty for an id it lacks.
std::wstring_view ButtonString(int id);

enum class MessageBoxButtons { kOk, kYesNo };
enum class MessageBoxIcon { kNone, kError, kQuestion };
enum class MessageBoxAnswer { kOk, kYes, kNo };

struct DialogTexts {
  std::wstring status;
  std::wstring comPort;
  std::wstring psrFile;
};

// The front end behind the record: a window, or a test's scripted host. Called from either thread.
class DialogHost {
 public:
  virtual ~DialogHost() = default;
  // Posts WM_UPDATE_CONTROLS to the dialog and returns at once; the dialog's thread then shows
  // the record's texts.
  virtual void PostUpdateControls() = 0;
  // Copies the three texts into their controls (the status line, the port field, the PSR list).
  virtual void ShowTexts(const DialogTexts& texts) = 0;
  virtual void SetButtonText(std::wstring_view text) = 0;
  // A message box owned by the dialog; blocks the calling thread until the user answers.
  virtual MessageBoxAnswer ShowMessageBox(std::wstring_view text, std::wstring_view caption, MessageBoxButtons buttons,
                                          MessageBoxIcon icon) = 0;
};

class DialogRecord {
 public:
  explicit DialogRecord(DialogHost& host) : host_(host) {}
  DialogRecord(const DialogRecord&) = delete;
  DialogRecord& operator=(const DialogRecord&) = delete;

  // The reporting channels.
  void SetStatus(const wchar_t* text);  // a null text empties the status line
  void SetStatus(std::wstring_view text);
  int ChangeButtonTo(int stringId);
  MessageBoxAnswer MessageBox(std::wstring_view text, std::wstring_view caption, MessageBoxButtons buttons,
                              MessageBoxIcon icon);
  // Copies the three texts into the controls now (the caller is on the dialog's thread).
  void Show();
  // Posts WM_UPDATE_CONTROLS without changing the status text.
  void PostUpdateControls() { host_.PostUpdateControls(); }

  // The four shared members, each read or written under the lock.
  DialogTexts Texts() const;
  std::wstring Status() const;
  std::wstring ComPort() const;
  std::wstring PsrFile() const;
  bool DirectProgramming() const;
  void SetComPort(std::wstring_view port);
  void SetPsrFile(std::wstring_view file);
  void SetDirectProgramming(bool direct);

  // The program's command line without its own path, set before the dialog is shown.
  std::wstring m_commandLine;
  std::int32_t m_state = 0;
  // The rate the module talks at now.
  std::int32_t m_baudrate = 115200;
  // The full registry path of the stack's transport key.
  std::wstring m_transportReg;
  // Asks the programming run to stop; created and set by the dialog, owned by it.
  platform::Event* m_stopEvent = nullptr;

 private:
  DialogHost& host_;
  mutable std::mutex lock_;
  std::wstring m_status;
  std::wstring m_comPort = L"???";
  std::wstring m_psrFile = L"no psr file found";
  bool m_directProgramming = false;
};

}  // namespace quillon
