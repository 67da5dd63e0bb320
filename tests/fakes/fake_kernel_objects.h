// Kernel objects inside one process: named objects are shared by name within one instance, as
// they are across processes on a real system. Every creation can be made to fail.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel_objects.h"
#include "tests/fakes/fail_switch.h"

namespace quillon::testing {

class FakeKernelObjects final : public platform::KernelObjects {
 public:
  struct MutexState {
    std::mutex lock;
    std::condition_variable released;
    std::thread::id owner;
    int depth = 0;
    bool heldElsewhere = false;  // held by "another process"
  };
  struct EventState {
    std::mutex lock;
    std::condition_variable changed;
    bool set = false;
  };

  std::unique_ptr<platform::SharedMemory> CreateSharedMemory(std::wstring_view name, std::size_t size,
                                                             platform::ErrorCode* error) override;
  std::unique_ptr<platform::NamedMutex> CreateNamedMutex(std::wstring_view name, platform::ErrorCode* error) override;
  std::unique_ptr<platform::Event> CreateManualResetEvent(std::wstring_view name, bool initiallySet,
                                                          platform::ErrorCode* error) override;
  std::uint32_t CurrentThreadId() override;

  // The state behind a name, for tests that act as another process.
  std::vector<std::byte>* Memory(std::wstring_view name);
  MutexState& Mutex(std::wstring_view name) { return *MutexSlot(name); }

  FailSwitch memoryFailures;
  FailSwitch mutexFailures;
  FailSwitch eventFailures;

 private:
  std::shared_ptr<MutexState> MutexSlot(std::wstring_view name);
  std::mutex lock_;
  // Weak, so that shared memory ends with its last handle, as a named object does.
  std::map<std::wstring, std::weak_ptr<std::vector<std::byte>>, std::less<>> memories_;
  std::map<std::wstring, std::shared_ptr<MutexState>, std::less<>> mutexes_;
  std::map<std::wstring, std::shared_ptr<EventState>, std::less<>> events_;
};

}  // namespace quillon::testing
