// A clock that moves only when told to, or by the time a Sleep asks for.
#pragma once

#include <atomic>
#include <vector>

#include "platform/clock.h"

namespace quillon::testing {

class ManualClock final : public platform::Clock {
 public:
  std::uint32_t TickCount() override { return tick_.load(); }
  void Sleep(std::uint32_t milliseconds) override {
    sleeps_.push_back(milliseconds);
    tick_ += milliseconds;
  }
  void Set(std::uint32_t tick) { tick_ = tick; }
  const std::vector<std::uint32_t>& Sleeps() const { return sleeps_; }

 private:
  std::atomic<std::uint32_t> tick_{1000};
  std::vector<std::uint32_t> sleeps_;
};

}  // namespace quillon::testing
