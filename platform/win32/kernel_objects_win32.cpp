#include "platform/win32/kernel_objects_win32.h"

#include <atomic>

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

// An unnamed event of this process (`known`) changes only through Set and Reset below (waits do
// not change a manual-reset event), so its state is also kept here and a test without waiting
// reads it without asking the system: a run tests its stop event on every pass, and under Wine
// each asking is a trip to Wine's server. A named event can be set by another process: it is
// always asked. The system's event is set and reset either way, for the waits that go to it.
class Win32Event final : public WaitableEvent {
 public:
  Win32Event(HANDLE event, bool known, bool set) : event_(event), known_(known), set_(set) {}
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

 private:
  Handle event_;
  const bool known_;
  std::atomic<bool> set_;
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
