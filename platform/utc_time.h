// The wall-clock time of records that outlive a run (journal, record of the line): UTC, to the
// second, as "2026-12-08T10:00:00Z", so that files from several machines sort together.
#pragma once

#include <string>

namespace quillon::platform {

std::string UtcNow();

}  // namespace quillon::platform
