// Folder listing by pattern, such as L"\\Program Files\\Quillon\\*.psr".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace quillon::platform {

class FolderListing {
 public:
  virtual ~FolderListing() = default;
  // The names (without folder) of the files matching the pattern's last part ("*" and "?"
  // wildcards, case-insensitive), in the order the file system gives them.
  virtual ErrorCode List(std::wstring_view pattern, std::vector<std::wstring>* names) = 0;
};

}  // namespace quillon::platform
