// The setup: one job cut into three runs of the program, separated by two device restarts.
//
//   run 1, StateInitial (the user pressed "Start"): take the stack off the port, back its
//          transport key up, write the resume shortcut with StateStackInactive, ask for a reset;
//   run 2, StateStackInactive (started by the shortcut): program the PSR file, write the new baud
//          rate, give the stack its port back (keeping the backup), write the shortcut with
//          StateSetupCompleted, ask for a reset;
//   run 3, StateSetupCompleted: restore the stack once more, delete the backup, done.
// With m_directProgramming set, run 1 programs the module at once and touches nothing else.
//
// One run is WorkingThread(), executed on the working thread; it reports through the record.
#pragma once

#include <cstdint>
#include <string>

#include "setup/baud_rate.h"
#include "setup/dialog_record.h"
#include "setup/setup_outcome.h"
#include "setup/setup_recovery.h"
#include "setup/setup_roles.h"
#include "setup/stack_registry.h"
#include "setup/startup_shortcut.h"

namespace quillon {

class QuillonSetup {
 public:
  // Paths and texts are held in this many characters, their terminating zero included.
  static constexpr std::size_t kTextChars = 260;

  QuillonSetup(const SetupRoles& roles, DialogRecord& record, ProgrammingRun programming, ModuleProbe probe);
  QuillonSetup(const QuillonSetup&) = delete;
  QuillonSetup& operator=(const QuillonSetup&) = delete;

  // The steps of m_state; the result code of the run.
  int WorkingThread();
  // One programming run of the selected PSR file (the module looked for at the rate it should talk
  // at, then at the file's, then at the others), then the module's rate found after its reset
  // into the stack's keys. 0, 113, 116 or 117 (the file's baud keys unreadable), 105,
  // kProgrammingStopped, kModuleLost. What it achieved is in LastOutcome().
  int UpdatePSKeys();
  const SetupOutcome& LastOutcome() const { return outcome_; }
  // The button reads "Reset"; the status line asks for it when `programmed`, otherwise keeps the
  // programming error. Always 0.
  int AskResetDevice(bool programmed);
  // The program's folder with its closing separator; empty when the path cannot be had.
  std::wstring GetModuleDirectory();
  // Asks the platform to restart the device. Always 0.
  int SoftResetDevice();
  // Why this setup must not touch the stack: values the shortcut could not carry over a restart
  // (kValueNotResumable), or two transport keys naming the port (kTwoTransports), which `code`
  // receives when not null. Empty when it may go on.
  std::wstring ResumeProblem(int* code = nullptr);

  StackRegistry& Stack() { return stack_; }
  BaudRate& Baud() { return baud_; }
  StartupShortcut& Shortcut() { return shortcut_; }
  SetupRecovery& Recovery() { return recovery_; }

 private:
  int StackWorkflow(std::wstring* failureText);
  int DirectProgramming(std::wstring* failureText);
  int ProgramWhileStackInactive(std::wstring* failureText);
  int FinishSetup(std::wstring* failureText);
  // The rate the module talks at once it has applied what it holds: found by asking it, after a
  // reset of its own when the run did not send one. 0 when it was never reached or is lost.
  std::uint32_t SettleModuleRate(const ProgrammingOutcome& run, std::uint32_t predicted);
  // True when the selected PSR file can be opened beside the program.
  bool PsrFileExists();
  // The "baud" of the stack's transport key (m_transportReg); 0 when it cannot be read.
  std::uint32_t TransportBaud();

  SetupRoles roles_;
  DialogRecord& record_;
  ProgrammingRun programming_;
  ModuleProbe probe_;
  SetupOutcome outcome_;
  StackRegistry stack_;
  BaudRate baud_;
  StartupShortcut shortcut_;
  SetupRecovery recovery_;
};

// The working thread's procedure: the run of `setup`, or 0 at once without one.
std::uint32_t WorkingThread(QuillonSetup* setup);

}  // namespace quillon
