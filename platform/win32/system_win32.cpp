#include "platform/win32/system_win32.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/text.h"
#include "platform/win32/win32_names.h"

namespace quillon::platform::win32 {

std::wstring Win32System::OwnPath() {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, length);
}

ErrorCode Win32System::RecordRestartRequest() {
  const std::wstring file = recordFolder_ + L"\\restart-requests";
  HANDLE record = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (record == INVALID_HANDLE_VALUE) return LastError();
  Handle closer(record);
  const std::string line = std::to_string(static_cast<long long>(std::time(nullptr))) + " " + WideToUtf8(OwnPath()) +
                           "\r\n";
  DWORD written = 0;
  return WriteFile(record, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ? kSuccess : LastError();
}

ErrorCode Win32System::RequestRestart() {
  const ErrorCode recorded = RecordRestartRequest();
  if (recorded != kSuccess) return recorded;
  std::fflush(nullptr);
  ExitProcess(0);
}

// Writing to a pipe whose reader has gone fails with an error here; nothing ends the program.
void Win32System::KeepRunningWhenOutputCloses() {}

bool Win32System::ErrorOutputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}

}  // namespace quillon::platform::win32
