// Clock on CLOCK_MONOTONIC.
#pragma once

#include "platform/clock.h"

namespace quillon::platform::posix {

class PosixClock final : public Clock {
 public:
  std::uint32_t TickCount() override;
  void Sleep(std::uint32_t milliseconds) override;
};

}  // namespace quillon::platform::posix
