#include "ui/deferred_restart.h"

namespace quillon::ui {

platform::ErrorCode DeferredRestart::RequestRestart() {
  requested_ = true;
  if (close_) close_();
  return platform::kSuccess;
}

}  // namespace quillon::ui
