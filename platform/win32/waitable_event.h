// An event whose handle the system's wait functions can wait on beside other handles.
#pragma once

#include <windows.h>

#include "platform/kernel_objects.h"

namespace quillon::platform::win32 {

class WaitableEvent : public Event {
 public:
  virtual HANDLE NativeHandle() const = 0;
};

}  // namespace quillon::platform::win32
