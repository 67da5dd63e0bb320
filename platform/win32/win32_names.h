// Helpers shared by the Windows back end's files.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "platform/errors.h"

namespace quillon::platform::win32 {

inline ErrorCode LastError() { return static_cast<ErrorCode>(GetLastError()); }

// Closes a kernel handle on every way out.
class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE handle = nullptr) {
    if (Valid()) CloseHandle(handle_);
    handle_ = handle;
  }
  // Gives the handle up without closing it.
  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }

 private:
  HANDLE handle_;
};

}  // namespace quillon::platform::win32
