#include "platform/win32/kernel_objects_win32.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/win32/waitable_event.h"
#include "platform/win32/win32_names.h"

namespace quillon::platform::win32 {
namespace {

class Win32SharedMemory final : public SharedMemory {
 public:
  Win32SharedMemory(HANDLE mapping, void* view, std::size_t size, bool existed)
      : mapping_(mapping), view_(view), size_(size), existed_(existed) {}
  ~Win32SharedMemory() override { UnmapViewOfFile(view_); }
  Win32SharedMemory(const Win32SharedMemory&) = delete;
  Win32SharedMemory& operator=(const Win32SharedMemory&) = delete;
  std::byte* Data() override { return static_cast<std::byte*>(view_); }
  std::size_t Size() const override { return size_; }
  bool AlreadyExisted() const override { return existed_; }

 private:
  Handle mapping_;
  void* view_;
  std::size_t size_;
  bool existed_;
};

class Win32Mutex final : public NamedMutex {
 public:
  explicit Win32Mutex(HANDLE mutex) : mutex_(mutex) {}
  WaitResult Wait(std::uint32_t timeoutMs) override {
    switch (WaitForSingleObject(mutex_.get(), timeoutMs)) {
      case WAIT_OBJECT_0:
      case WAIT_ABANDONED:  // the owner ended holding it: now ours
        return WaitResult::kObtained;
      case WAIT_TIMEOUT:
        return WaitResult::kTimedOut;
      default:
        return WaitResult::kFailed;
    }
  }
  void Release() override { ReleaseMutex(mutex_.get()); }

 private:
  Handle mutex_;
};

// A thread that waits for an event that another process sets (a viewer's "started" event), so
// that a test of the event while it stays unset need not ask the system. The tester arms the
// watch when the system has said "not set"; the thread disarms it when the event is set. Between
// the set and the thread's waking an armed test says "not set", as a test a moment earlier
// would have. A watch whose thread has ended (a failed wait) is never armed again: every test
// then asks the system.
class EventWatch {
 public:
  // Null when its objects or its thread cannot be had.
  static std::unique_ptr<EventWatch> Start(HANDLE event) {
    std::unique_ptr<EventWatch> watch(new EventWatch(event));
    if (!watch->quit_.Valid() || !watch->arm_.Valid()) return nullptr;
    watch->thread_.Reset(CreateThread(nullptr, 0, &EventWatch::Run, watch.get(), 0, nullptr));
    if (!watch->thread_.Valid()) return nullptr;
    return watch;
  }
  ~EventWatch() {
    SetEvent(quit_.get());
    WaitForSingleObject(thread_.get(), INFINITE);
  }
  EventWatch(const EventWatch&) = delete;
  EventWatch& operator=(const EventWatch&) = delete;

  bool Armed() const { return state_.load() == kArmed; }
  void Arm() {
    int asking = kAsking;
    if (state_.compare_exchange_strong(asking, kArmed)) SetEvent(arm_.get());
  }

 private:
  enum : int { kAsking, kArmed, kEnded };
  explicit EventWatch(HANDLE event)
      : event_(event),
        quit_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        arm_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

  // True when `handle` was signalled, false on the quit request or a failed wait.
  bool WaitFor(HANDLE handle) const {
    const HANDLE handles[] = {quit_.get(), handle};
    return WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
  }

  static DWORD WINAPI Run(void* self) {
    auto* watch = static_cast<EventWatch*>(self);
    while (watch->WaitFor(watch->arm_.get()) && watch->WaitFor(watch->event_)) {
      int armed = kArmed;
      watch->state_.compare_exchange_strong(armed, kAsking);
    }
    watch->state_.store(kEnded);
    return 0;
  }

  HANDLE event_;  // the watched event's owner outlives the watch
  Handle quit_;
  Handle arm_;  // auto-reset: each arming wakes the thread once
  Handle thread_;
  std::atomic<int> state_{kAsking};
};

// An unnamed event of this process (`known`) changes only through Set and Reset below (waits do
// not change a manual-reset event), so its state is also kept here and a test without waiting
// reads it without asking the system: a run tests its stop event on every pass, and under Wine
// each asking is a trip to Wine's server. A named event can be set by another process: Wait
// always asks, and TestOften asks unless a watch of its own waits for the set.
// The system's event is set and reset either way, for the waits that go to it.
class Win32Event final : public WaitableEvent {
 public:
  Win32Event(HANDLE event, bool known, bool set) : event_(event), known_(known), set_(set) {}
  ~Win32Event() override { watch_.reset(); }  // before the handle it waits on is closed
  Win32Event(const Win32Event&) = delete;
  Win32Event& operator=(const Win32Event&) = delete;
  HANDLE NativeHandle() const override { return event_.get(); }
  void Set() override {
    set_.store(true);
    SetEvent(event_.get());
  }
  void Reset() override {
    ResetEvent(event_.get());
    set_.store(false);
  }
  // Only a wait that timed out says "not set": a failed wait counts as set, so that a loop that
  // waits for its stop request stops rather than running on with no way to be stopped.
  bool Wait(std::uint32_t timeoutMs) override {
    if (known_ && set_.load()) return true;
    if (known_ && timeoutMs == 0) return false;
    return WaitForSingleObject(event_.get(), timeoutMs) != WAIT_TIMEOUT;
  }
  // The watch starts with the first test, which asks the system: a set made before it is seen
  // at once.
  bool TestOften() override {
    if (known_) return Wait(0);
    std::call_once(watchStarted_, [this] { watch_ = EventWatch::Start(event_.get()); });
    if (watch_ && watch_->Armed()) return false;
    const bool set = Wait(0);
    if (!set && watch_) watch_->Arm();
    return set;
  }

 private:
  Handle event_;
  const bool known_;
  std::atomic<bool> set_;
  std::once_flag watchStarted_;
  std::unique_ptr<EventWatch> watch_;
};

}  // namespace

std::unique_ptr<SharedMemory> Win32KernelObjects::CreateSharedMemory(std::wstring_view name, std::size_t size,
                                                                     ErrorCode* error) {
  const std::wstring fullName = Name(name);
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(size),
                                      fullName.c_str());
  if (mapping == nullptr) {
    *error = LastError();
    return nullptr;
  }
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
  if (view == nullptr) {
    *error = LastError();
    CloseHandle(mapping);
    return nullptr;
  }
  *error = existed ? kErrorAlreadyExists : kSuccess;
  return std::make_unique<Win32SharedMemory>(mapping, view, size, existed);
}

std::unique_ptr<NamedMutex> Win32KernelObjects::CreateNamedMutex(std::wstring_view name, ErrorCode* error) {
  const std::wstring fullName = Name(name);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, fullName.c_str());
  if (mutex == nullptr) {
    *error = LastError();
    return nullptr;
  }
  *error = kSuccess;
  return std::make_unique<Win32Mutex>(mutex);
}

std::unique_ptr<Event> Win32KernelObjects::CreateManualResetEvent(std::wstring_view name, bool initiallySet,
                                                                  ErrorCode* error) {
  const std::wstring fullName = Name(name);
  HANDLE event = CreateEventW(nullptr, TRUE, initiallySet ? TRUE : FALSE, name.empty() ? nullptr : fullName.c_str());
  if (event == nullptr) {
    *error = LastError();
    return nullptr;
  }
  *error = kSuccess;
  return std::make_unique<Win32Event>(event, name.empty(), initiallySet);
}

std::unique_ptr<Event> AdoptEvent(void* handle) {
  return std::make_unique<Win32Event>(static_cast<HANDLE>(handle), false, false);
}

std::uint32_t Win32KernelObjects::CurrentThreadId() { return static_cast<std::uint32_t>(GetCurrentThreadId()); }

}  // namespace quillon::platform::win32
