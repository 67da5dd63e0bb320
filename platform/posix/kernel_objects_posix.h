// Kernel objects on Linux: blocks in /dev/shm for named objects, a robust process-shared mutex
// (a writer that dies holding it does not block the others), futex-based events.
#pragma once

#include <string>

#include "platform/kernel_objects.h"

namespace quillon::platform::posix {

class PosixKernelObjects final : public KernelObjects {
 public:
  explicit PosixKernelObjects(std::string objectPrefix) : prefix_(std::move(objectPrefix)) {}
  std::unique_ptr<SharedMemory> CreateSharedMemory(std::wstring_view name, std::size_t size, ErrorCode* error) override;
  std::unique_ptr<NamedMutex> CreateNamedMutex(std::wstring_view name, ErrorCode* error) override;
  std::unique_ptr<Event> CreateManualResetEvent(std::wstring_view name, bool initiallySet, ErrorCode* error) override;
  std::uint32_t CurrentThreadId() override;

 private:
  std::string prefix_;
};

}  // namespace quillon::platform::posix
