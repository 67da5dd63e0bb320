// Posted messages kept in a list, per window.
#pragma once

#include <mutex>
#include <utility>
#include <vector>

#include "platform/window_messages.h"

namespace quillon::testing {

class FakeWindowMessages final : public platform::WindowMessages {
 public:
  bool Post(std::uint32_t window, const platform::WindowMessage& message) override {
    std::lock_guard<std::mutex> hold(lock_);
    posted_.emplace_back(window, message);
    return true;
  }
  std::unique_ptr<platform::MessageQueue> CreateQueue(platform::ErrorCode* error) override {
    *error = platform::kErrorNotSupported;
    return nullptr;
  }
  std::vector<std::pair<std::uint32_t, platform::WindowMessage>> Posted() {
    std::lock_guard<std::mutex> hold(lock_);
    return posted_;
  }

 private:
  std::mutex lock_;
  std::vector<std::pair<std::uint32_t, platform::WindowMessage>> posted_;
};

}  // namespace quillon::testing
