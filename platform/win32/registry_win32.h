// The registry under HKEY_LOCAL_MACHINE. An optional base key (tests use one of their own) is
// put before every path; programs use the root as it is.
#pragma once

#include <string>

#include "platform/registry.h"

namespace quillon::platform::win32 {

class Win32Registry final : public Registry {
 public:
  explicit Win32Registry(std::wstring base = {}) : base_(std::move(base)) {}
  ErrorCode OpenKey(std::wstring_view path, RegistryAccess access, std::unique_ptr<RegistryKey>* key) override;
  ErrorCode CreateKey(std::wstring_view path, std::unique_ptr<RegistryKey>* key) override;
  ErrorCode DeleteKey(std::wstring_view path) override;
  ErrorCode DeleteTree(std::wstring_view path) override;

 private:
  std::wstring Full(std::wstring_view path) const;
  std::wstring base_;
};

}  // namespace quillon::platform::win32
