// The kinds of trace messages.
#pragma once

#include <cstdint>

namespace quillon {

enum TraceKind : std::uint32_t {
  kTraceInfo = 2,
  kTraceImportant = 4,
  kTraceThreadName = 6,
  kTraceThreadEnd = 7,
};

// The category of every message this program writes.
inline constexpr std::uint32_t kTraceCategory = 1;

}  // namespace quillon
