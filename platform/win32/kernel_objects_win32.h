// Kernel objects on Windows: named file mappings backed by the paging file, named mutexes and
// events. An optional prefix keeps the objects of one test apart from another's; programs use
// the names as they are.
#pragma once

#include <string>

#include "platform/kernel_objects.h"

namespace quillon::platform::win32 {

class Win32KernelObjects final : public KernelObjects {
 public:
  explicit Win32KernelObjects(std::wstring prefix = {}) : prefix_(std::move(prefix)) {}
  std::unique_ptr<SharedMemory> CreateSharedMemory(std::wstring_view name, std::size_t size, ErrorCode* error) override;
  std::unique_ptr<NamedMutex> CreateNamedMutex(std::wstring_view name, ErrorCode* error) override;
  std::unique_ptr<Event> CreateManualResetEvent(std::wstring_view name, bool initiallySet, ErrorCode* error) override;
  std::uint32_t CurrentThreadId() override;

 private:
  std::wstring Name(std::wstring_view name) const { return prefix_ + std::wstring(name); }
  std::wstring prefix_;
};

// An event for a handle opened elsewhere; the event owns and closes it.
std::unique_ptr<Event> AdoptEvent(void* handle);

}  // namespace quillon::platform::win32
