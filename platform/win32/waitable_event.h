// An event whose handle the system's wait functions can wait on beside other handles.
#pragma once

#include <windows.h>

#include "platform/kernel_objects.h"

namespace quillon::platform::win32 {

class WaitableEvent : public Event {
 public:
  // For waiting on only: setting or resetting it behind the Event's back is not seen by Wait(0).
  virtual HANDLE NativeHandle() const = 0;
};

}  // namespace quillon::platform::win32
