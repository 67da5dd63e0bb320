// "Fail on the Nth call": a counter that a fake consults before each operation it can fail.
#pragma once

#include <atomic>
#include <cstdint>

namespace quillon::testing {

class FailSwitch {
 public:
  // The nth call from now (1: the next one) fails; 0 disarms.
  void FailOnCall(std::uint32_t nth) { remaining_ = nth; }
  // True when this call is the one that must fail.
  bool ShouldFail() {
    std::uint32_t left = remaining_.load();
    while (left != 0) {
      if (remaining_.compare_exchange_weak(left, left - 1)) return left == 1;
    }
    return false;
  }

 private:
  std::atomic<std::uint32_t> remaining_{0};
};

}  // namespace quillon::testing
