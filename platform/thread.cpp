#include "platform/thread.h"

#include <chrono>
#include <system_error>

namespace quillon::platform {

std::unique_ptr<Thread> Thread::Start(std::function<void()> procedure) {
  std::unique_ptr<Thread> thread(new Thread());
  try {
    // The procedure's end is marked in state both sides own, so that a detached thread never
    // touches a Thread that is gone.
    thread->thread_ = std::thread([shared = thread->shared_, procedure = std::move(procedure)] {
      procedure();
      std::lock_guard<std::mutex> hold(shared->lock);
      shared->done = true;
      shared->ended.notify_all();
    });
  } catch (const std::system_error&) {
    return nullptr;
  }
  return thread;
}

Thread::~Thread() {
  if (!thread_.joinable()) return;
  if (Running()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

bool Thread::Wait(std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> hold(shared_->lock);
  return shared_->ended.wait_for(hold, std::chrono::milliseconds(timeoutMs), [this] { return shared_->done; });
}

bool Thread::Running() { return !Wait(0); }

}  // namespace quillon::platform
