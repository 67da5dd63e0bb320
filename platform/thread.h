// A thread of the program: started with its procedure, waited for with a time-out.
//
// Built on the standard library's threads, which both back ends provide (mingw-w64's posix
// thread model on Windows). The procedure's end is signalled, so that a caller can wait for it
// with a limit, as Windows' WaitForSingleObject on a thread handle allows.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace quillon::platform {

class Thread {
 public:
  // Starts `procedure` at once on a new thread. Null when no thread can be had.
  static std::unique_ptr<Thread> Start(std::function<void()> procedure);
  // Joins a thread whose procedure has ended; one still running is left to end on its own
  // (detached), as closing a Windows thread handle does.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // True when the procedure has ended within `timeoutMs`.
  bool Wait(std::uint32_t timeoutMs);
  bool Running();

 private:
  Thread() = default;
  struct Shared {
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
  };
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
  std::thread thread_;
};

}  // namespace quillon::platform
