#include "platform/save_whole.h"

#include <memory>
#include <span>
#include <string>

namespace quillon::platform {

ErrorCode SaveWhole(Files& files, std::wstring_view path, std::string_view text) {
  const std::wstring temporary = std::wstring(path) + L".tmp";
  ErrorCode error = kSuccess;
  {
    std::unique_ptr<File> file = files.Open(temporary, FileMode::kWriteTruncate, &error);
    if (!file) return error == kSuccess ? kErrorGenFailure : error;
    error = file->Write(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  }
  if (error == kSuccess) error = files.Rename(temporary, path);
  if (error != kSuccess) files.Delete(temporary);
  return error;
}

}  // namespace quillon::platform
