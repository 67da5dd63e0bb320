// Kernel objects: named shared memory, the named mutex, events and thread identities.
//
// Named objects follow the Windows rules: opening a name that exists returns the existing object
// and says so; an object lives as long as some process holds it open. Names are plain wide text
// such as L"LoupeMutex"; a back end may place them in a namespace of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/errors.h"

namespace quillon::platform {

class SharedMemory {
 public:
  virtual ~SharedMemory() = default;
  // The whole object mapped for reading and writing; valid while this object lives.
  virtual std::byte* Data() = 0;
  virtual std::size_t Size() const = 0;
  // True when the object existed before this process created it (ERROR_ALREADY_EXISTS).
  virtual bool AlreadyExisted() const = 0;
};

enum class WaitResult {
  kObtained,  // the caller owns the mutex (also after a previous owner died holding it)
  kTimedOut,
  kFailed,
};

class NamedMutex {
 public:
  virtual ~NamedMutex() = default;
  virtual WaitResult Wait(std::uint32_t timeoutMs) = 0;
  virtual void Release() = 0;
};

// A manual-reset event: once set it stays set until reset.
class Event {
 public:
  virtual ~Event() = default;
  virtual void Set() = 0;
  virtual void Reset() = 0;
  // True when the event is set, waiting at most timeoutMs (0: only test). A wait that fails
  // also returns true: callers wait for stop requests, and a stop that cannot be seen must not
  // leave a run that nothing can end.
  virtual bool Wait(std::uint32_t timeoutMs) = 0;
  // Wait(0) for a caller that tests on every step of a busy loop (the trace, on every line). The
  // same answer, but a set made by another process may be seen a moment late: a back end whose
  // test asks the system may answer "not set" from memory until a thread of its own, waiting on
  // the event, has woken for the set. A reset is seen at once: while the event is set, every
  // test asks. Back ends whose Wait(0) asks the system nothing answer it.
  virtual bool TestOften() { return Wait(0); }
};

class KernelObjects {
 public:
  virtual ~KernelObjects() = default;
  // Creates or opens the named shared memory of `size` bytes. Null and *error on failure.
  virtual std::unique_ptr<SharedMemory> CreateSharedMemory(std::wstring_view name, std::size_t size,
                                                           ErrorCode* error) = 0;
  // Creates or opens the named mutex, not owned.
  virtual std::unique_ptr<NamedMutex> CreateNamedMutex(std::wstring_view name, ErrorCode* error) = 0;
  // Creates or opens a manual-reset event; an empty name makes a private one. Opening an
  // existing event keeps its state.
  virtual std::unique_ptr<Event> CreateManualResetEvent(std::wstring_view name, bool initiallySet,
                                                        ErrorCode* error) = 0;
  virtual std::uint32_t CurrentThreadId() = 0;
};

}  // namespace quillon::platform
