// Journals on Linux: an advisory lock (flock) between processes, fsync before an append returns.
#pragma once

#include <memory>
#include <string>

#include "platform/files.h"

namespace quillon::platform::posix {

std::unique_ptr<LogFile> OpenLogFile(const std::string& hostPath, ErrorCode* error);

}  // namespace quillon::platform::posix
