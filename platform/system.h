// System: the program's own path and the device restart.
#pragma once

#include <string>

#include "platform/errors.h"

namespace quillon::platform {

class System {
 public:
  virtual ~System() = default;
  // Full path of the running program, in the form the file operations accept.
  virtual std::wstring OwnPath() = 0;
  // Asks for the device restart. On a real device it does not return on success.
  virtual ErrorCode RequestRestart() = 0;
  // Whether the standard error output is a terminal (progress displays only make sense there).
  virtual bool ErrorOutputIsTerminal() = 0;
  // From now on a standard output whose reader has gone (a closed pipe) makes writes fail
  // instead of ending the program.
  virtual void KeepRunningWhenOutputCloses() = 0;
};

}  // namespace quillon::platform
