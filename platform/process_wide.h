// The seam for the system's process-wide objects (the trace, the serial port, ...).
//
// Get() returns the process's object: a default-constructed one, or the replacement that a test
// installed with Scoped for as long as the Scoped object lives.
#pragma once

#include <atomic>

namespace quillon::platform {

template <typename T>
class ProcessWide {
 public:
  static T& Get() {
    T* replacement = replacement_.load(std::memory_order_acquire);
    return replacement != nullptr ? *replacement : Default();
  }

  class Scoped {
   public:
    explicit Scoped(T& replacement) : previous_(replacement_.exchange(&replacement, std::memory_order_acq_rel)) {}
    ~Scoped() { replacement_.store(previous_, std::memory_order_release); }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;

   private:
    T* previous_;
  };

 private:
  static T& Default() {
    static T instance;
    return instance;
  }
  static inline std::atomic<T*> replacement_{nullptr};
};

}  // namespace quillon::platform
