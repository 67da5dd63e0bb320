// Reading a PSR file into the programming list, the same for every engine.
#pragma once

#include <string_view>

#include "platform/platform.h"
#include "psconfig/programming_run.h"

namespace quillon {

// Loads `psrPath` into `list` (build identifier, keys, warm reset). Returns kPsConfigDone (also
// when stopped: *stopped then says so), or the run's result for the file's fault (1, 3, 4).
// *keysLeftOut says whether key lines were left out for having too many values.
int LoadProgrammingList(const platform::Platform& platform, PsKeyList& list, std::wstring_view psrPath,
                        platform::Event* stopEvent, RunObserver* observer, bool* stopped, bool* keysLeftOut);

}  // namespace quillon
