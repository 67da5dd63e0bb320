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
    case 7:
      FormatTo(out, L"Error the module answered at no baud rate on %s during programming the radio module", port);
      break;
    default:
      FormatTo(out, L"Unknown Error %d during programming the radio module", r);
      break;
  }
  return text.data();
}

// Said when the registry could not tell whether a key or a value is there: nothing is done on it.
std::wstring UnreadableRegistryText(platform::ErrorCode error) {
  std::array<wchar_t, QuillonSetup::kTextChars> text{};
  if (error == platform::kErrorBusy) {
    FormatTo(std::span<wchar_t>(text),
             L"The registry is busy (%d): another program holds it. Nothing was changed; restart the device to resume "
             L"the setup.",
             static_cast<std::int32_t>(error));
  } else {
    FormatTo(std::span<wchar_t>(text),
             L"Unable to read the registry (%d): nothing was changed. Restart the device to resume the setup.",
             static_cast<std::int32_t>(error));
  }
  return text.data();
}

}  // namespace

QuillonSetup::QuillonSetup(const SetupRoles& roles, DialogRecord& record, ProgrammingRun programming, ModuleProbe probe)
    : roles_(roles),
      record_(record),
      programming_(std::move(programming)),
      probe_(std::move(probe)),
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
        result = DirectProgramming(&failureText);
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
      result = ProgramWhileStackInactive(&failureText);
      break;
    case StateSetupCompleted:
      result = FinishSetup(&failureText);
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

std::wstring QuillonSetup::ResumeProblem(int* code) {
  int ignored = 0;
  int& result = code != nullptr ? *code : ignored;
  result = kValueNotResumable;
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
  const std::vector<StackRegistry::Found> transports = stack_.FindEvery(kTransportsPath, platform::kRegSz, L"Name",
                                                                        port, 2);
  if (transports.empty()) return {};
  const StackRegistry::Found& found = transports.front();
  if (transports.size() > 1) {
    result = kTwoTransports;
    FormatTo(out, L"Two transport keys name the port %s: %s%s and %s%s. The setup changes nothing.", port,
             std::wstring_view(kTransportsPath), found.relative, std::wstring_view(kTransportsPath),
             transports[1].relative);
    return text.data();
  }
  ShortcutValues values = shortcut_.ValuesFor(StateStackInactive);
  values.transportReg = std::wstring(kTransportsPath) + found.relative;
  if (!IsResumableText(values.transportReg)) {
    FormatTo(out, L"The transport key \"%s\" cannot be carried over a reset (a blank, a \"/\" or too long).",
             values.transportReg);
    return text.data();
  }
  // The backup of a tree deeper than the deletion can name would outlive the setup, and block
  // the next one as an interrupted setup's.
  if (std::wstring_view(kBackupPath).size() + stack_.LongestPathBelow(values.transportReg) >=
      StackRegistry::kDeletePathChars) {
    FormatTo(out, L"The transport key \"%s\" holds keys too deep for its backup to be deleted again.",
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
  int refused = 0;
  if (std::wstring problem = ResumeProblem(&refused); !problem.empty()) {
    T().Printf(KindImportant, kTraceCategory, L"%s", problem);
    *failureText = problem;
    return refused;
  }
  // What an older setup's programming achieved is no evidence for this one.
  SetupOutcomeRecord(roles_.registry).Delete();
  // The recovery has applied every backup that belongs to a marked transport: one still there is
  // an older setup's, and the copy below must not merge into it.
  int result = 0;
  if (stack_.KeyExists(kBackupPath)) {
    result = stack_.RegDeleteNode(kBackupPath);
    if (result != 0) {
      FormatTo(std::span<wchar_t>(text), L"Unable to discard the old backup of a transport key (%d).", result);
      *failureText = text.data();
      return result;
    }
  }
  result = stack_.DeactivateMsStack(record_.ComPort());
  if (result != 0) {
    FormatTo(std::span<wchar_t>(text), L"Unable to Deactivate the Stack (%d).", result);
    *failureText = text.data();
    return result;
  }
  result = shortcut_.CreateShortcutInStartupFolder(StateStackInactive);
  if (result != 0) {
    FormatTo(std::span<wchar_t>(text), L"Unable to create Shortcut in StartUp folder(%d).", result);
    *failureText = text.data();
    // Nothing was interrupted: no backup may be left for the next start to "restore".
    stack_.RollBackDeactivation(record_.ComPort());
    return result;
  }
  AskResetDevice(true);
  return 0;
}

int QuillonSetup::DirectProgramming(std::wstring* failureText) {
  T().Printf(KindInfo, kTraceCategory, L"Not using the MS Stack then update the PS Key directly");
  const int result = UpdatePSKeys();
  if (result == kProgrammingStopped || result == kModuleLost) {
    // The status says what the module was left with; it stays for the user to read.
    *failureText = record_.Status();
  } else if (result != 0) {
    record_.MessageBox(kProgrammingFailedText, L"Error", MessageBoxButtons::kOk, MessageBoxIcon::kError);
  } else {
    record_.ChangeButtonTo(kStringClose);
    record_.SetStatus(kDoneText);
  }
  return result;
}

int QuillonSetup::ProgramWhileStackInactive(std::wstring* failureText) {
  // The shortcut that started this run stays until the next one replaces it: a power cut before
  // then resumes this run at the next boot, with the module's store as it was left.
  SetupOutcomeRecord outcomes(roles_.registry);
  SetupOutcome outcome;
  bool programmed = true;
  const platform::ErrorCode read = outcomes.Read(&outcome);
  if (read != platform::kSuccess && read != platform::kErrorFileNotFound) {
    *failureText = UnreadableRegistryText(read);
    return kRegistryUnreadable;
  }
  if (read == platform::kSuccess) {
    // A restart cut this run short after the module was programmed and the rate written.
    T().Printf(KindImportant, kTraceCategory, L"Programming already done before a restart: programmed %d, module at %d",
               outcome.programmed ? 1 : 0, static_cast<std::int32_t>(outcome.moduleRate));
    programmed = outcome.programmed;
    if (!programmed) {
      record_.SetStatus(L"The programming run before the restart did not program every key.");
    }
  } else {
    if (const platform::ErrorCode backup = stack_.KeyLookup(kBackupPath); backup != platform::kSuccess) {
      if (backup != platform::kErrorFileNotFound) {
        // Not knowing is no evidence: the shortcut stays, and the next start resumes.
        *failureText = UnreadableRegistryText(backup);
        return kRegistryUnreadable;
      }
      shortcut_.DeleteStartupShortcut();
      *failureText =
          L"There is no setup to resume: the stack's keys were not taken off the port. Press Start for a new setup.";
      return kNoSetupToResume;
    }
    if (!PsrFileExists()) {
      // Without its file the run cannot program, and a resume that waited for one would leave
      // the stack off at every boot: the setup ends here with the stack given back.
      const int restored = stack_.ActivateMsStack(record_.ComPort(), true);
      shortcut_.DeleteStartupShortcut();
      outcomes.Delete();
      std::array<wchar_t, kTextChars> text{};
      if (restored == 0) {
        FormatTo(std::span<wchar_t>(text),
                 L"The setup stopped: the PSR file \"%s\" is not beside Quillon. The stack has its port back; press "
                 L"Start for a new setup.",
                 record_.PsrFile());
      } else {
        FormatTo(std::span<wchar_t>(text),
                 L"The setup stopped: the PSR file \"%s\" is not beside Quillon. Unable to give the Bluetooth stack "
                 L"its port back (%d).",
                 record_.PsrFile(), restored);
      }
      *failureText = text.data();
      return kPsrFileNotOpened;
    }
    const int updated = UpdatePSKeys();
    programmed = updated == 0;
    if (!programmed && updated != kProgrammingStopped) {
      record_.MessageBox(kProgrammingFailedText, L"Error", MessageBoxButtons::kOk, MessageBoxIcon::kError);
    }
    if (!outcomes.Write(outcome_)) {
      T().Printf(KindImportant, kTraceCategory, L"The outcome of the programming run cannot be kept in %s",
                 kOutcomePath);
    }
  }
  // The stack gets its port back even when programming failed.
  stack_.ActivateMsStack(record_.ComPort(), false);
  const int result = shortcut_.CreateShortcutInStartupFolder(StateSetupCompleted);
  if (result != 0) {
    // The old shortcut would run this run again at every boot.
    shortcut_.DeleteStartupShortcut();
    std::array<wchar_t, kTextChars> text{};
    FormatTo(std::span<wchar_t>(text), L"Unable to create Shortcut in StartUp folder(%d).", result);
    *failureText = text.data();
    return result;
  }
  AskResetDevice(programmed);
  return 0;
}

int QuillonSetup::FinishSetup(std::wstring* failureText) {
  const int result = stack_.ActivateMsStack(record_.ComPort(), true);
  SetupOutcomeRecord outcomes(roles_.registry);
  SetupOutcome outcome;
  const platform::ErrorCode read = outcomes.Read(&outcome);
  const bool recorded = read == platform::kSuccess;
  // The shortcut goes only once the backup has: a backup beside a transport that works again
  // belongs to no marked transport, and only this run may still apply it. Cut short before, the
  // next boot runs this run again. A record the registry could not read is kept with it.
  const bool backupGone = stack_.KeyMissing(kBackupPath);
  const bool known = read == platform::kSuccess || read == platform::kErrorFileNotFound;
  if (backupGone && known) {
    shortcut_.DeleteStartupShortcut();
    outcomes.Delete();
  }
  std::uint32_t stackRate = TransportBaud();
  if (result == 0 && backupGone && recorded && outcome.moduleRate != 0 && stackRate != outcome.moduleRate &&
      IsTransportKeyPath(record_.m_transportReg)) {
    // The programming run recorded where the module talks, but the stack's keys say otherwise (a
    // read or a write of that run failed): they follow the module.
    if (baud_.WriteStackRate(record_.m_transportReg, outcome.moduleRate) == 0) stackRate = TransportBaud();
  }
  record_.m_state = StateInitial;
  std::array<wchar_t, kTextChars> text{};
  const std::span<wchar_t> out(text);
  if (result != 0) {
    FormatTo(out, L"Unable to give the Bluetooth stack its port back (%d).", result);
  } else if (!known) {
    *failureText = UnreadableRegistryText(read);
    return kRegistryUnreadable;
  } else if (!backupGone) {
    FormatTo(out,
             L"The stack's keys were not all given back (the backup is still there): restart the device to finish "
             L"the setup.");
  } else if (!recorded) {
    FormatTo(out, L"The setup did not finish: the programming run left no record. Press Start for a new setup.");
  } else if (outcome.moduleRate == 0) {
    FormatTo(out, L"The setup did not finish: the module did not answer after its reset. Press Start for a new setup.");
  } else if (!outcome.programmed) {
    FormatTo(out,
             L"The setup did not finish: not every key was programmed. The stack has its port back; press Start for "
             L"a new setup.");
  } else if (stackRate != outcome.moduleRate) {
    FormatTo(out,
             L"The setup did not finish: the stack's keys say %d baud, the module answers at %d. Press Start for a "
             L"new setup.",
             static_cast<std::int32_t>(stackRate), static_cast<std::int32_t>(outcome.moduleRate));
  } else {
    record_.ChangeButtonTo(kStringClose);
    if (outcome.fileRate != 0 && outcome.fileRate != outcome.moduleRate) {
      // Every key went in, but the module applies another rate than the file sets (it holds a
      // rate key of higher precedence, or did not keep the file's): the stack follows the module.
      FormatTo(out,
               L"Quillon done, but the module talks at %d baud, not at the %d that the PSR file sets. Please suspend "
               L"and resume your device.",
               static_cast<std::int32_t>(outcome.moduleRate), static_cast<std::int32_t>(outcome.fileRate));
      record_.SetStatus(text.data());
    } else {
      record_.SetStatus(kDoneText);
    }
    return 0;
  }
  *failureText = text.data();
  T().Printf(KindImportant, kTraceCategory, L"%s", *failureText);
  return result != 0 ? result : kSetupNotFinished;
}

bool QuillonSetup::PsrFileExists() {
  const std::wstring folder = GetModuleDirectory();
  if (folder.empty() || record_.PsrFile().empty()) return false;
  platform::ErrorCode error = platform::kSuccess;
  return roles_.files.Open(folder + record_.PsrFile(), platform::FileMode::kReadExisting, &error) != nullptr;
}

std::uint32_t QuillonSetup::TransportBaud() {
  std::unique_ptr<platform::RegistryKey> key;
  std::uint32_t baud = 0;
  if (IsTransportKeyPath(record_.m_transportReg) &&
      roles_.registry.OpenKey(record_.m_transportReg, platform::RegistryAccess::kRead, &key) == platform::kSuccess) {
    (void)ReadDword(*key, L"baud", &baud);
  }
  return baud;
}

std::uint32_t QuillonSetup::SettleModuleRate(const ProgrammingOutcome& run, std::uint32_t predicted) {
  if (run.moduleRate == 0 || !probe_) return 0;  // never reached: the module is as it was
  const std::wstring port = record_.ComPort();
  // A stop or a close wants the thread soon: then only the two likely rates are looked at, which
  // keeps both probes within the dialog's wait. The probes themselves take no stop: a stopped
  // run still leaves the module reset and the registry true.
  const bool hurried = record_.m_stopEvent != nullptr && record_.m_stopEvent->Wait(0);
  const std::vector<std::uint32_t> where = hurried ? std::vector<std::uint32_t>{predicted, run.moduleRate}
                                                   : UartRateSearchOrder({predicted, run.moduleRate});
  // Always a reset of the setup's own, even after the run's: a warm reset that was sent is not
  // proof that the module carried it out, and only a reset makes the module apply the rate key it
  // holds as its next power-up will.
  record_.SetStatus(L"Resetting the module");
  if (probe_(port, where, true, nullptr) == 0) return 0;
  record_.SetStatus(L"Asking the module for its rate");
  const std::uint32_t rate = probe_(port, where, false, nullptr);
  if (rate != 0 && rate != predicted) {
    T().Printf(KindImportant, kTraceCategory, L"The module answers at %d after its reset, not at %d",
               static_cast<std::int32_t>(rate), static_cast<std::int32_t>(predicted));
  }
  return rate;
}

int QuillonSetup::UpdatePSKeys() {
  TraceScope scope(L"CQuillonDlg::UpdatePSKeys");
  outcome_ = {};
  std::int32_t newBaud = record_.m_baudrate;
  const std::wstring port = record_.ComPort();
  const std::wstring folder = GetModuleDirectory();
  const std::wstring path = folder + record_.PsrFile();
  record_.SetStatus(L"Start programming BT Radio");
  ProgrammingOutcome run;
  run.result = 3;  // a path that its buffer cannot hold names no file that can be opened
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
    // Where the module is looked for when it does not answer at the rate the stack used: at the
    // rate the file sets (a earlier run may have left it there), then at the others.
    const std::vector<std::uint32_t> rates = UartRateSearchOrder(
        {static_cast<std::uint32_t>(record_.m_baudrate), static_cast<std::uint32_t>(newBaud)});
    if (programming_) {
      run = programming_(port, rates, path, record_.m_stopEvent);
    } else {
      run.result = 1;
    }
  }
  outcome_.result = run.result;
  if (run.moduleRate != 0 && run.moduleRate != static_cast<std::uint32_t>(record_.m_baudrate)) {
    T().Printf(KindImportant, kTraceCategory, L"The module answered at %d, not at %d",
               static_cast<std::int32_t>(run.moduleRate), record_.m_baudrate);
  }
  const std::uint32_t moduleRate = SettleModuleRate(run, static_cast<std::uint32_t>(newBaud));
  outcome_.moduleRate = moduleRate;
  outcome_.fileRate = static_cast<std::uint32_t>(newBaud);
  std::array<wchar_t, kTextChars> text{};
  if (run.result == kProgrammingStoppedEarly) {
    scope.Store(kProgrammingStopped);
    scope.Report();
    if (run.moduleRate == 0) {
      FormatTo(std::span<wchar_t>(text), L"Programming stopped before the module answered: the module is unchanged.");
    } else if (moduleRate == 0) {
      FormatTo(std::span<wchar_t>(text),
               L"Programming stopped after %d of %d requests: the module holds part of the file and does not answer "
               L"after its reset.",
               static_cast<std::int32_t>(run.requestsSent), static_cast<std::int32_t>(run.requests));
    } else {
      FormatTo(std::span<wchar_t>(text),
               L"Programming stopped after %d of %d requests: the module holds part of the file and talks at %d baud.",
               static_cast<std::int32_t>(run.requestsSent), static_cast<std::int32_t>(run.requests),
               static_cast<std::int32_t>(moduleRate));
    }
    T().Printf(KindImportant, kTraceCategory, L"%s", text.data());
    record_.SetStatus(text.data());
  } else if (run.result != 0) {
    scope.Store(kProgrammingFailed);
    scope.Report();
    const std::wstring error = ProgrammingErrorText(run.result, port);
    T().Printf(KindInfo, kTraceCategory, L"%s", error);
    record_.SetStatus(error);
  } else if (moduleRate == 0) {
    scope.Store(kModuleLost);
    scope.Report();
    FormatTo(std::span<wchar_t>(text),
             L"The module was programmed but does not answer after its reset, at any baud rate: the stack's keys keep "
             L"%d.",
             record_.m_baudrate);
    T().Printf(KindImportant, kTraceCategory, L"%s", text.data());
    record_.SetStatus(text.data());
  }
  // The stack's keys get the rate the module answered at, whatever the run achieved: a module
  // that took a new rate and then failed talks at it all the same.
  if (moduleRate != 0 && moduleRate != static_cast<std::uint32_t>(record_.m_baudrate)) {
    const int written = baud_.UpdateBaudrateIfNecessary(static_cast<std::int32_t>(moduleRate));
    if (scope.Result() == 0) {
      scope.Store(written);
      scope.Report();
    }
  }
  outcome_.programmed = scope.Result() == 0 && run.result == 0 && moduleRate != 0;
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
