#include "platform/platform.h"

#include <atomic>

namespace quillon::platform {
namespace {
std::atomic<const Platform*> installed{nullptr};
}  // namespace

const Platform& Current() {
  const Platform* replacement = installed.load(std::memory_order_acquire);
  return replacement != nullptr ? *replacement : Native();
}

ScopedPlatform::ScopedPlatform(const Platform& replacement)
    : previous_(installed.exchange(&replacement, std::memory_order_acq_rel)) {}

ScopedPlatform::~ScopedPlatform() { installed.store(previous_, std::memory_order_release); }

}  // namespace quillon::platform
