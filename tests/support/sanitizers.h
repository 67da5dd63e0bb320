// What the sanitizer a test binary was built with cannot follow.
#pragma once

namespace quillon::testing {

// The thread sanitizer does not see a lock taken over from a process that died holding it, and
// reports the release that follows. Such tests are skipped under it (they run in the other builds).
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kThreadSanitizer = true;
#else
inline constexpr bool kThreadSanitizer = false;
#endif

}  // namespace quillon::testing
