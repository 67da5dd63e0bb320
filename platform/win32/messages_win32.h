// Posted window messages on Windows: PostMessageW to the window whose handle the 32-bit identifier
// holds (window handles fit in 32 bits), and message-only windows as receiving queues.
#pragma once

#include "platform/window_messages.h"

namespace quillon::platform::win32 {

class Win32WindowMessages final : public WindowMessages {
 public:
  bool Post(std::uint32_t window, const WindowMessage& message) override;
  // The queue belongs to the calling thread: wait on it from that thread.
  std::unique_ptr<MessageQueue> CreateQueue(ErrorCode* error) override;
};

}  // namespace quillon::platform::win32
