// Files and folder listing on Windows. Paths go to the system as they are; on desktop Windows a
// device root (QUILLON_DEVICE_ROOT) can stand in for the handheld's folders, as on Linux: paths
// that start with a backslash then lie below it.
#pragma once

#include <string>

#include "platform/files.h"
#include "platform/folder_listing.h"

namespace quillon::platform::win32 {

class Win32Files final : public Files, public FolderListing {
 public:
  explicit Win32Files(std::wstring deviceRoot = {}) : deviceRoot_(std::move(deviceRoot)) {}
  std::unique_ptr<File> Open(std::wstring_view path, FileMode mode, ErrorCode* error) override;
  ErrorCode Delete(std::wstring_view path) override;
  ErrorCode Rename(std::wstring_view from, std::wstring_view to) override;
  std::unique_ptr<LogFile> OpenLog(std::wstring_view path, ErrorCode* error) override;
  // Names in the order the file system gives them.
  ErrorCode List(std::wstring_view pattern, std::vector<std::wstring>* names) override;

 private:
  std::wstring SystemPath(std::wstring_view path) const;
  std::wstring deviceRoot_;
};

}  // namespace quillon::platform::win32
