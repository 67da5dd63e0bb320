#include "platform/posix/kernel_objects_posix.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/posix/deadline.h"
#include "platform/posix/descriptor.h"
#include "platform/posix/pollable_event.h"
#include "platform/posix/shared_block.h"

namespace quillon::platform::posix {
namespace {

class PosixSharedMemory final : public SharedMemory {
 public:
  explicit PosixSharedMemory(std::unique_ptr<SharedBlock> block) : block_(std::move(block)) {}
  std::byte* Data() override { return static_cast<std::byte*>(block_->Data()); }
  std::size_t Size() const override { return block_->Size(); }
  bool AlreadyExisted() const override { return block_->AlreadyExisted(); }

 private:
  std::unique_ptr<SharedBlock> block_;
};

class PosixNamedMutex final : public NamedMutex {
 public:
  explicit PosixNamedMutex(std::unique_ptr<SharedBlock> block) : block_(std::move(block)) {}

  static void Initialise(void* memory) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    // Windows mutexes may be taken again by the thread that owns them.
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(static_cast<pthread_mutex_t*>(memory), &attributes);
    pthread_mutexattr_destroy(&attributes);
  }

  WaitResult Wait(std::uint32_t timeoutMs) override {
#if defined(__SANITIZE_THREAD__)
    // The thread sanitizer does not know pthread_mutex_clocklock; it would miss every lock.
    const timespec deadline = DeadlineAfter(CLOCK_REALTIME, timeoutMs);
    const int result = pthread_mutex_timedlock(Mutex(), &deadline);
#else
    const timespec deadline = DeadlineAfter(CLOCK_MONOTONIC, timeoutMs);
    const int result = pthread_mutex_clocklock(Mutex(), CLOCK_MONOTONIC, &deadline);
#endif
    if (result == 0) return WaitResult::kObtained;
    if (result == EOWNERDEAD) {
      // The owner died holding it; like an abandoned Windows mutex, the caller now owns it.
      pthread_mutex_consistent(Mutex());
      return WaitResult::kObtained;
    }
    return result == ETIMEDOUT ? WaitResult::kTimedOut : WaitResult::kFailed;
  }

  void Release() override { pthread_mutex_unlock(Mutex()); }

 private:
  pthread_mutex_t* Mutex() const { return static_cast<pthread_mutex_t*>(block_->Data()); }
  std::unique_ptr<SharedBlock> block_;
};

long Futex(std::atomic<std::uint32_t>* word, int operation, std::uint32_t value, const timespec* timeout) {
  return syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), operation, value, timeout, nullptr, 0);
}

// A manual-reset event: one word, 0 or 1, with futex waits. Named events keep the word in a
// shared block; private ones in this object, with an eventfd beside it that is readable while
// the event is set, so that a wait on a port can end on a stop request.
class FutexEvent final : public PollableEvent {
 public:
  FutexEvent(std::unique_ptr<SharedBlock> block, bool initiallySet)
      : block_(std::move(block)), readiness_(block_ ? -1 : eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    word_ = block_ ? static_cast<std::atomic<std::uint32_t>*>(block_->Data()) : &ownWord_;
    if (!block_) {
      word_->store(0);
      if (initiallySet) Set();
    }
  }

  void Set() override {
    word_->store(1);
    Futex(word_, FUTEX_WAKE, INT_MAX, nullptr);
    if (readiness_.get() >= 0) {
      const std::uint64_t one = 1;
      (void)!write(readiness_.get(), &one, sizeof one);
    }
  }

  void Reset() override {
    word_->store(0);
    if (readiness_.get() >= 0) {
      std::uint64_t count = 0;
      (void)!read(readiness_.get(), &count, sizeof count);
    }
  }

  int ReadinessDescriptor() const override { return readiness_.get(); }

  bool Wait(std::uint32_t timeoutMs) override {
    if (word_->load() == 1) return true;
    if (timeoutMs == 0) return false;
    const timespec deadline = DeadlineAfter(CLOCK_MONOTONIC, timeoutMs);
    while (word_->load() != 1) {
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      long long left = (deadline.tv_sec - now.tv_sec) * 1000000000LL + (deadline.tv_nsec - now.tv_nsec);
      if (left <= 0) return false;
      const timespec relative{static_cast<time_t>(left / 1000000000LL), static_cast<long>(left % 1000000000LL)};
      Futex(word_, FUTEX_WAIT, 0, &relative);
    }
    return true;
  }

 private:
  std::unique_ptr<SharedBlock> block_;
  Descriptor readiness_;
  std::atomic<std::uint32_t> ownWord_{0};
  std::atomic<std::uint32_t>* word_;
};

static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

}  // namespace

std::unique_ptr<SharedMemory> PosixKernelObjects::CreateSharedMemory(std::wstring_view name, std::size_t size,
                                                                     ErrorCode* error) {
  auto block = SharedBlock::Open(prefix_, "mem." + ObjectFileName(std::wstring(name)), size, {}, error);
  if (!block) return nullptr;
  return std::make_unique<PosixSharedMemory>(std::move(block));
}

std::unique_ptr<NamedMutex> PosixKernelObjects::CreateNamedMutex(std::wstring_view name, ErrorCode* error) {
  auto block = SharedBlock::Open(prefix_, "mutex." + ObjectFileName(std::wstring(name)), sizeof(pthread_mutex_t),
                                 PosixNamedMutex::Initialise, error);
  if (!block) return nullptr;
  return std::make_unique<PosixNamedMutex>(std::move(block));
}

std::unique_ptr<Event> PosixKernelObjects::CreateManualResetEvent(std::wstring_view name, bool initiallySet,
                                                                  ErrorCode* error) {
  *error = kSuccess;
  if (name.empty()) return std::make_unique<FutexEvent>(nullptr, initiallySet);
  auto initialise = [initiallySet](void* memory) {
    static_cast<std::atomic<std::uint32_t>*>(memory)->store(initiallySet ? 1u : 0u);
  };
  auto block = SharedBlock::Open(prefix_, "event." + ObjectFileName(std::wstring(name)), sizeof(std::uint32_t),
                                 initialise, error);
  if (!block) return nullptr;
  return std::make_unique<FutexEvent>(std::move(block), initiallySet);
}

std::uint32_t PosixKernelObjects::CurrentThreadId() { return static_cast<std::uint32_t>(gettid()); }

}  // namespace quillon::platform::posix
