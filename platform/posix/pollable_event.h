// An event that poll() can wait on beside other descriptors.
#pragma once

#include "platform/kernel_objects.h"

namespace quillon::platform::posix {

class PollableEvent : public Event {
 public:
  // A descriptor that polls readable (POLLIN) while the event is set; -1 when there is none.
  virtual int ReadinessDescriptor() const = 0;
};

}  // namespace quillon::platform::posix
