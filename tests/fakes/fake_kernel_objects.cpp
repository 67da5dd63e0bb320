#include "tests/fakes/fake_kernel_objects.h"

#include <functional>

namespace quillon::testing {
namespace {

class FakeSharedMemory final : public platform::SharedMemory {
 public:
  FakeSharedMemory(std::shared_ptr<std::vector<std::byte>> bytes, bool existed)
      : bytes_(std::move(bytes)), existed_(existed) {}
  std::byte* Data() override { return bytes_->data(); }
  std::size_t Size() const override { return bytes_->size(); }
  bool AlreadyExisted() const override { return existed_; }

 private:
  std::shared_ptr<std::vector<std::byte>> bytes_;
  bool existed_;
};

class FakeMutex final : public platform::NamedMutex {
 public:
  explicit FakeMutex(std::shared_ptr<FakeKernelObjects::MutexState> state) : state_(std::move(state)) {}
  platform::WaitResult Wait(std::uint32_t timeoutMs) override {
    std::unique_lock<std::mutex> hold(state_->lock);
    const auto me = std::this_thread::get_id();
    const bool free = state_->released.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] {
      return !state_->heldElsewhere && (state_->depth == 0 || state_->owner == me);
    });
    if (!free) return platform::WaitResult::kTimedOut;
    state_->owner = me;
    ++state_->depth;
    return platform::WaitResult::kObtained;
  }
  void Release() override {
    std::lock_guard<std::mutex> hold(state_->lock);
    if (state_->depth > 0 && --state_->depth == 0) state_->released.notify_all();
  }

 private:
  std::shared_ptr<FakeKernelObjects::MutexState> state_;
};

class FakeEvent final : public platform::Event {
 public:
  explicit FakeEvent(std::shared_ptr<FakeKernelObjects::EventState> state) : state_(std::move(state)) {}
  void Set() override {
    std::lock_guard<std::mutex> hold(state_->lock);
    state_->set = true;
    state_->changed.notify_all();
  }
  void Reset() override {
    std::lock_guard<std::mutex> hold(state_->lock);
    state_->set = false;
  }
  bool Wait(std::uint32_t timeoutMs) override {
    std::unique_lock<std::mutex> hold(state_->lock);
    if (timeoutMs == 0) return state_->set;  // a test, no wait
    return state_->changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return state_->set; });
  }

 private:
  std::shared_ptr<FakeKernelObjects::EventState> state_;
};

}  // namespace

std::unique_ptr<platform::SharedMemory> FakeKernelObjects::CreateSharedMemory(std::wstring_view name, std::size_t size,
                                                                              platform::ErrorCode* error) {
  if (memoryFailures.ShouldFail()) {
    *error = platform::kErrorNotEnoughMemory;
    return nullptr;
  }
  std::lock_guard<std::mutex> hold(lock_);
  auto& slot = memories_[std::wstring(name)];
  std::shared_ptr<std::vector<std::byte>> bytes = slot.lock();
  const bool existed = bytes != nullptr;
  if (!existed) {
    bytes = std::make_shared<std::vector<std::byte>>(size);
    slot = bytes;
  }
  *error = existed ? platform::kErrorAlreadyExists : platform::kSuccess;
  return std::make_unique<FakeSharedMemory>(bytes, existed);
}

std::unique_ptr<platform::NamedMutex> FakeKernelObjects::CreateNamedMutex(std::wstring_view name,
                                                                          platform::ErrorCode* error) {
  if (mutexFailures.ShouldFail()) {
    *error = platform::kErrorAccessDenied;
    return nullptr;
  }
  *error = platform::kSuccess;
  return std::make_unique<FakeMutex>(MutexSlot(name));
}

std::unique_ptr<platform::Event> FakeKernelObjects::CreateManualResetEvent(std::wstring_view name, bool initiallySet,
                                                                           platform::ErrorCode* error) {
  if (eventFailures.ShouldFail()) {
    *error = platform::kErrorAccessDenied;
    return nullptr;
  }
  *error = platform::kSuccess;
  std::lock_guard<std::mutex> hold(lock_);
  std::shared_ptr<EventState> unnamed;
  std::shared_ptr<EventState>& state = name.empty() ? unnamed : events_[std::wstring(name)];
  if (!state) {  // a named event that exists keeps its state
    state = std::make_shared<EventState>();
    state->set = initiallySet;
  }
  return std::make_unique<FakeEvent>(state);
}

std::uint32_t FakeKernelObjects::CurrentThreadId() {
  return static_cast<std::uint32_t>(std::hash<std::thread::id>{}(std::this_thread::get_id()) & 0x7FFFFFFF);
}

std::vector<std::byte>* FakeKernelObjects::Memory(std::wstring_view name) {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = memories_.find(name);
  return found == memories_.end() ? nullptr : found->second.lock().get();
}

std::shared_ptr<FakeKernelObjects::MutexState> FakeKernelObjects::MutexSlot(std::wstring_view name) {
  std::lock_guard<std::mutex> hold(lock_);
  auto& slot = mutexes_[std::wstring(name)];
  if (!slot) slot = std::make_shared<MutexState>();
  return slot;
}

}  // namespace quillon::testing
