// Journals on Windows: a byte-range lock over the whole file between processes, and
// FlushFileBuffers before an append returns.
#pragma once

#include <memory>
#include <string>

#include "platform/files.h"

namespace quillon::platform::win32 {

std::unique_ptr<LogFile> OpenLogFile(const std::wstring& path, ErrorCode* error);

}  // namespace quillon::platform::win32
