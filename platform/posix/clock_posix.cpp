#include "platform/posix/clock_posix.h"

#include <time.h>

#include <cerrno>

namespace quillon::platform::posix {

std::uint32_t PosixClock::TickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const auto ms = static_cast<unsigned long long>(now.tv_sec) * 1000ull +
                  static_cast<unsigned long long>(now.tv_nsec) / 1000000ull;
  return static_cast<std::uint32_t>(ms);
}

void PosixClock::Sleep(std::uint32_t milliseconds) {
  timespec rest{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

}  // namespace quillon::platform::posix
