// Clock on GetTickCount and Sleep.
#pragma once

#include "platform/clock.h"

namespace quillon::platform::win32 {

class Win32Clock final : public Clock {
 public:
  std::uint32_t TickCount() override;
  void Sleep(std::uint32_t milliseconds) override;
};

}  // namespace quillon::platform::win32
