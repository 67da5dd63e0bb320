// The seam for the one object that every layer reaches without being handed it: the trace.
//
// Get() returns the object that a program (or a test) installed with Scoped, for as long as the
// Scoped object lives; with none installed, a default-constructed one, which must need nothing
// from the operating system.
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

  // Installs `replacement` until the end of this object, then puts back what was there before.
  // Scoped objects end in the reverse order of their start.
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
