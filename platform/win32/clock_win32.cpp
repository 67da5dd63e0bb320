#include "platform/win32/clock_win32.h"

#include <windows.h>

#include <timeapi.h>

namespace quillon::platform::win32 {

// timeGetTime counts milliseconds since the system started, as GetTickCount does, but follows
// the timer resolution that an open serial port asks for (1 ms): GetTickCount keeps stepping by
// the scheduler tick (about 15.6 ms), which would stretch a paused pass that ends on the clock.
std::uint32_t Win32Clock::TickCount() { return static_cast<std::uint32_t>(timeGetTime()); }

void Win32Clock::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace quillon::platform::win32
