// The kinds of trace messages.
#pragma once

#include <cstdint>

namespace quillon {

enum TraceKind : std::uint32_t {
  KindInfo = 2,
  KindImportant = 4,
  KindThreadName = 6,
  KindThreadEnd = 7,
};

// The category of every message this program writes.
inline constexpr std::uint32_t kTraceCategory = 1;

}  // namespace quillon
