// Files and folder listing on Linux; device paths resolve below the device root.
#pragma once

#include "platform/files.h"
#include "platform/folder_listing.h"
#include "platform/posix/device_root.h"

namespace quillon::platform::posix {

class PosixFiles final : public Files, public FolderListing {
 public:
  explicit PosixFiles(const DeviceRoot& root) : root_(root) {}
  std::unique_ptr<File> Open(std::wstring_view path, FileMode mode, ErrorCode* error) override;
  ErrorCode Delete(std::wstring_view path) override;
  ErrorCode Rename(std::wstring_view from, std::wstring_view to) override;
  std::unique_ptr<LogFile> OpenLog(std::wstring_view path, ErrorCode* error) override;
  // Names come sorted without regard to case, so that lists are the same on every run.
  ErrorCode List(std::wstring_view pattern, std::vector<std::wstring>* names) override;

 private:
  const DeviceRoot& root_;
};

// "*" and "?" wildcards, compared without regard to case.
bool MatchesPattern(std::wstring_view name, std::wstring_view pattern);

}  // namespace quillon::platform::posix
