#include "setup/quillon_setup.h"

#include <array>
#include <span>

#include "setup/command_line.h"
#include "setup/registry_values.h"
#include "setup/setup_results.h"
#include "trace/format.h"
#include "trace/trace.h"
#include "trace/trace_scope.h"

namespace quillon {
namespace {

constexpr wchar_t kDoneText[] = L"Quillon done. Please suspend and resume your device.";
constexpr wchar_t kProgrammingFailedText[] = L"Unable to change the PS Keys";

Trace& T() { return Trace::Process(); }

// The status text for a failed programming run with result `r`.
std::wstring ProgrammingErrorText(int r, std::wstring_view port) {
  std::array<wchar_t, QuillonSetup::kTextChars> text{};
  const std::span<wchar_t> out(text);
  switch (r) {
    case 1:
      FormatTo(out, L"Error programming not terminated correctly during programming the radio module");
      break;
    case 2:
      FormatTo(out, L"Error unable to open or config the COM port %sduring programming the radio module", port);
      break;
    case 3:
      FormatTo(out, L"Error unable to open the PSR file during programming the radio module");
      break;
    case 4:
      FormatTo(out, L"Error PSR file invalid during programming the radio module");
      break;
    default:
      FormatTo(out, L"Unknown Error %d during programming the radio module", r);
      break;
  }
  return text.data();
}

}  // namespace

QuillonSetup::QuillonSetup(const SetupRoles& roles, DialogRecord& record, ProgrammingRun programming)
    : roles_(roles),
      record_(record),
      programming_(std::move(programming)),
      stack_(roles.registry, record),
      baud_(roles.files, roles.registry, record, stack_),
      shortcut_(roles.files, roles.system, record),
      recovery_(roles.registry, record, stack_, shortcut_) {}

std::uint32_t WorkingThread(QuillonSetup* setup) {
  if (setup == nullptr) return 0;
  return static_cast<std::uint32_t>(setup->WorkingThread());
}

int QuillonSetup::WorkingThread() {
  ThreadTraceScope scope(L"CQuillonDlg::WorkingThread", L"WorkingThread");
  std::wstring failureText;
  int result = 0;
  record_.SetStatus(L"Please wait for initialization");
  switch (record_.m_state) {
    case StateInitial: {
      // Whatever an interrupted setup left is undone before this one starts.
      const int recovered = recovery_.RecoverInterruptedSetup();
      if (record_.DirectProgramming()) {
        result = DirectProgramming();
      } else if (recovered != 0) {
        std::array<wchar_t, kTextChars> text{};
        FormatTo(std::span<wchar_t>(text), L"Unable to restore the Bluetooth stack of an interrupted setup (%d).",
                 recovered);
        failureText = text.data();
        result = recovered;
      } else {
        result = StackWorkflow(&failureText);
      }
      break;
    }
    case StateStackInactive:
      result = ProgramWhileStackInactive();
      break;
    case StateSetupCompleted:
      result = FinishSetup();
      break;
    default:
      return 0;
  }
  scope.Store(result);
  scope.Report();
  if (result != 0) {
    record_.ChangeButtonTo(kStringStart);
    record_.SetStatus(failureText);
  }
  return result;
}

std::wstring QuillonSetup::ResumeProblem() {
  std::array<wchar_t, kTextChars> text{};
  const std::span<wchar_t> out(text);
  const std::wstring port = record_.ComPort();
  const std::wstring psr = record_.PsrFile();
  if (!IsResumableText(port) || MarkedPortName(port).size() > kMaxStringChars) {
    FormatTo(out, L"The port name \"%s\" cannot be carried over a reset (a blank, a \"/\" or too long).", port);
    return text.data();
  }
  if (!IsResumableText(psr)) {
    FormatTo(out, L"The PSR file name \"%s\" cannot be carried over a reset (a blank, a \"/\" or too long).", psr);
    return text.data();
  }
  // Where the de-activation will find the transport key; a port without one fails there.
  StackRegistry::Found found;
  stack_.FindRegistry(kTransportsPath, platform::kRegSz, L"Name", port, &found);
  if (!found.found) return {};
  ShortcutValues values = shortcut_.ValuesFor(StateStackInactive);
  values.transportReg = std::wstring(kTransportsPath) + found.relative;
  if (!IsResumableText(values.transportReg)) {
    FormatTo(out, L"The transport key \"%s\" cannot be carried over a reset (a blank, a \"/\" or too long).",
             values.transportReg);
    return text.data();
  }
  std::string shortcut;
  if (!values.programPath.empty() && !FormatShortcutText(values, &shortcut)) {
    FormatTo(out,
             L"The resume command would be longer than %d bytes: the program's path, port, PSR file and transport key "
             L"are too long.",
             static_cast<int>(kShortcutBytes - 1));
    return text.data();
  }
  return {};
}

int QuillonSetup::StackWorkflow(std::wstring* failureText) {
  std::array<wchar_t, kTextChars> text{};
  if (std::wstring problem = ResumeProblem(); !problem.empty()) {
    T().Printf(KindImportant, kTraceCategory, L"%s", problem);
    *failureText = problem;
    return kValueNotResumable;
  }
  int result = stack_.DeactivateMsStack(record_.ComPort());
  if (result != 0) {
    FormatTo(std::span<wchar_t>(text), L"Unable to Deactivate the Stack (%d).", result);
    *failureText = text.data();
    return result;
  }
  result = shortcut_.CreateShortcutInStartupFolder(StateStackInactive);
  if (result != 0) {
    FormatTo(std::span<wchar_t>(text), L"Unable to create Shortcut in StartUp folder(%d).", result);
    *failureText = text.data();
    stack_.ActivateMsStack(record_.ComPort(), false);
    return result;
  }
  AskResetDevice(true);
  return 0;
}

int QuillonSetup::DirectProgramming() {
  T().Printf(KindInfo, kTraceCategory, L"Not using the MS Stack then update the PS Key directly");
  const int result = UpdatePSKeys();
  if (result != 0) {
    record_.MessageBox(kProgrammingFailedText, L"Error", MessageBoxButtons::kOk, MessageBoxIcon::kError);
  } else {
    record_.ChangeButtonTo(kStringClose);
    record_.SetStatus(kDoneText);
  }
  return result;
}

int QuillonSetup::ProgramWhileStackInactive() {
  shortcut_.DeleteStartupShortcut();
  bool programmed = true;
  if (UpdatePSKeys() != 0) {
    programmed = false;
    record_.MessageBox(kProgrammingFailedText, L"Error", MessageBoxButtons::kOk, MessageBoxIcon::kError);
  }
  // The stack gets its port back even when programming failed.
  stack_.ActivateMsStack(record_.ComPort(), false);
  const int result = shortcut_.CreateShortcutInStartupFolder(StateSetupCompleted);
  if (result != 0) return result;
  AskResetDevice(programmed);
  return 0;
}

int QuillonSetup::FinishSetup() {
  shortcut_.DeleteStartupShortcut();
  const int result = stack_.ActivateMsStack(record_.ComPort(), true);
  record_.ChangeButtonTo(kStringClose);
  record_.SetStatus(kDoneText);
  record_.m_state = StateInitial;
  return result;
}

int QuillonSetup::UpdatePSKeys() {
  TraceScope scope(L"CQuillonDlg::UpdatePSKeys");
  std::int32_t newBaud = record_.m_baudrate;
  const std::wstring port = record_.ComPort();
  const std::wstring folder = GetModuleDirectory();
  const std::wstring path = folder + record_.PsrFile();
  record_.SetStatus(L"Start programming BT Radio");
  int programmingResult = 3;  // a path that its buffer cannot hold names no file that can be opened
  if (folder.empty()) {
    // Without the program's folder the name alone would be looked for wherever the program runs.
    T().Printf(KindImportant, kTraceCategory, L"The program's own path is unknown or longer than %d characters",
               static_cast<int>(kTextChars - 1));
    scope.Store(kPsrFileNotOpened);
    scope.Report();
  } else if (path.size() >= kTextChars) {
    T().Printf(KindImportant, kTraceCategory, L"The PSR path is longer than %d characters",
               static_cast<int>(kTextChars - 1));
    scope.Store(kPsrFileNotOpened);
    scope.Report();
  } else {
    scope.Store(baud_.ReadBaudrateIfAnyFromPsr(path, &newBaud));
    scope.Report();
    if (scope.Result() == 0) {
      if (newBaud == record_.m_baudrate) {
        T().Printf(KindInfo, kTraceCategory, L"Baudrate stays %d", record_.m_baudrate);
      } else {
        T().Printf(KindInfo, kTraceCategory, L"New Baudrate %d (before %d) so no Reset during programmation", newBaud,
                   record_.m_baudrate);
      }
    }
    T().Printf(KindInfo, kTraceCategory, L"Starting programmation %s at %d", port, record_.m_baudrate);
    programmingResult = programming_ ? programming_(port, static_cast<std::uint32_t>(record_.m_baudrate), path,
                                                    record_.m_stopEvent)
                                     : 1;
  }
  if (programmingResult == kProgrammingStoppedEarly) {
    T().Printf(KindInfo, kTraceCategory, L"Programming stopped before the warm reset: the baudrate stays %d",
               record_.m_baudrate);
    programmingResult = 0;
    newBaud = record_.m_baudrate;
  }
  if (programmingResult != 0) {
    scope.Store(kProgrammingFailed);
    scope.Report();
    const std::wstring text = ProgrammingErrorText(programmingResult, port);
    T().Printf(KindInfo, kTraceCategory, L"%s", text);
    record_.SetStatus(text);
  }
  if (scope.Result() == 0 && newBaud != record_.m_baudrate) {
    scope.Store(baud_.UpdateBaudrateIfNecessary(newBaud));
    scope.Report();
  }
  return scope.Result();
}

int QuillonSetup::AskResetDevice(bool programmed) {
  TraceScope scope(L"CQuillonDlg::AskResetDevice");
  record_.ChangeButtonTo(kStringReset);
  if (programmed) {
    record_.SetStatus(L"Please Reset your device to proceed.");
  } else {
    record_.PostUpdateControls();
  }
  return scope.Result();
}

std::wstring QuillonSetup::GetModuleDirectory() {
  const std::wstring path = roles_.system.OwnPath();
  if (path.empty() || path.size() >= kTextChars) return {};
  // The device's separator is the backslash; the Linux back end gives "/" paths.
  const std::size_t last = path.find_last_of(L"\\/");
  return last == std::wstring::npos ? path : path.substr(0, last + 1);
}

int QuillonSetup::SoftResetDevice() {
  roles_.system.RequestRestart();
  return 0;
}

}  // namespace quillon
