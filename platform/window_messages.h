// Posted window messages, and the receiving queue that a tool's window stands for.
//
// A window is named by a 32-bit identifier, the value that goes into shared structures such as
// the trace header. Posting never waits: when the receiver's queue is full the message is lost.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/errors.h"

namespace quillon::platform {

struct WindowMessage {
  std::uint32_t message = 0;
  std::uint32_t wParam = 0;
  std::uint32_t lParam = 0;
};

class MessageQueue {
 public:
  virtual ~MessageQueue() = default;
  virtual std::uint32_t WindowId() const = 0;
  // Waits at most timeoutMs for a message. True when one was taken.
  virtual bool Wait(std::uint32_t timeoutMs, WindowMessage* message) = 0;
};

class WindowMessages {
 public:
  virtual ~WindowMessages() = default;
  virtual bool Post(std::uint32_t window, const WindowMessage& message) = 0;
  // A queue for a window of this process, for receivers.
  virtual std::unique_ptr<MessageQueue> CreateQueue(ErrorCode* error) = 0;
};

}  // namespace quillon::platform
