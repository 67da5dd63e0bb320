// Clock: the millisecond tick count and sleeping.
#pragma once

#include <cstdint>

namespace quillon::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start; wraps around after 2^32 ms like GetTickCount.
  virtual std::uint32_t TickCount() = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

}  // namespace quillon::platform
