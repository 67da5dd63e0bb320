// Posted window messages on Linux: a window is a POSIX message queue of the device, named after
// its 32-bit identifier. Posting never blocks; a full queue drops the message, as a full Windows
// queue refuses PostMessage.
#pragma once

#include <array>
#include <atomic>
#include <mutex>
#include <string>

#include "platform/window_messages.h"

namespace quillon::platform::posix {

class PosixWindowMessages final : public WindowMessages {
 public:
  explicit PosixWindowMessages(std::string objectPrefix) : prefix_(std::move(objectPrefix)) {}
  ~PosixWindowMessages() override;
  bool Post(std::uint32_t window, const WindowMessage& message) override;
  std::unique_ptr<MessageQueue> CreateQueue(ErrorCode* error) override;

 private:
  int OpenCached(std::uint32_t window);
  std::string prefix_;
  // Posting is on the trace's hot path: queues once opened stay open, in a small fixed cache.
  struct CachedQueue {
    std::uint32_t window = 0;
    int descriptor = -1;
  };
  std::mutex cacheLock_;
  std::array<CachedQueue, 8> cache_{};
  std::size_t nextSlot_ = 0;
  std::atomic<std::uint32_t> queueCounter_{0};
};

}  // namespace quillon::platform::posix
