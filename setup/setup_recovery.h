// Bringing the stack back after a setup that a crash or a power cut interrupted.
//
// A run of the setup changes the registry in many steps and is followed by a restart; cut short
// at any step, it can leave the port's name marked (the stack then ignores its module), a backup
// of the transport key behind, or a shortcut that resumes a setup the registry no longer matches.
// A first run started by hand finds these traces and undoes them before anything else: it copies
// the backup back over the transport key it was taken from (the one still marked with the
// backup's name), deletes the backup only once that copy succeeded, unmarks the port's name and
// removes a leftover shortcut. A backup that matches no marked transport is never applied: it is
// reported and kept until a new setup replaces it.
//
// The working thread does this at the start of every StateInitial run. The dialog's start-up
// calls it too, in StateInitial and before it looks up the stack's port, so that a device is
// given its stack back by merely starting the program.
#pragma once

#include "platform/registry.h"
#include "setup/dialog_record.h"
#include "setup/stack_registry.h"
#include "setup/startup_shortcut.h"

namespace quillon {

class SetupRecovery {
 public:
  SetupRecovery(platform::Registry& registry, DialogRecord& record, StackRegistry& stack, StartupShortcut& shortcut)
      : registry_(registry), record_(record), stack_(stack), shortcut_(shortcut) {}

  // 0 when nothing was left, all was restored or only a backup that matches no marked transport
  // was found (the status line then says which); 105 or 106 when the stack's keys cannot be
  // opened; 119 to 121 when the copy back failed (the backup is kept).
  int RecoverInterruptedSetup();

 private:
  platform::Registry& registry_;
  DialogRecord& record_;
  StackRegistry& stack_;
  StartupShortcut& shortcut_;
};

}  // namespace quillon
