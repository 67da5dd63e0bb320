// Replacing a file in one step, so that a crash or a power cut leaves the old file or the new one.
#pragma once

#include <string_view>

#include "platform/files.h"

namespace quillon::platform {

// Writes `text` to `path` whole: into `path` + ".tmp", which is then renamed into place. On any
// failure the temporary file is removed and `path` is left as it was.
ErrorCode SaveWhole(Files& files, std::wstring_view path, std::string_view text);

}  // namespace quillon::platform
