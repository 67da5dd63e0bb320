#include "platform/win32/clock_win32.h"

#include <windows.h>

namespace quillon::platform::win32 {

std::uint32_t Win32Clock::TickCount() { return static_cast<std::uint32_t>(GetTickCount()); }

void Win32Clock::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace quillon::platform::win32
