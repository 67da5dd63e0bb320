// Serial devices on Windows: CreateFile with no sharing, SetCommState, SetCommTimeouts, SetupComm,
// EscapeCommFunction, PurgeComm, ReadFile and WriteFile. "COM4:" (the handheld's form) is opened
// as \\.\COM4 on desktop Windows, which also reaches ports above COM9.
#pragma once

#include <windows.h>

#include <string>

#include "platform/serial_device.h"

namespace quillon::platform::win32 {

class Win32SerialDevices final : public SerialDevices {
 public:
  std::unique_ptr<SerialDevice> Open(std::wstring_view name, ErrorCode* error) override;
};

// The line-settings record the port is set to. Every field not asked for is zero, except the
// XON and XOFF characters: Windows refuses a record in which they are equal, even with XON/XOFF
// flow control off (an all-zero record works only under Wine).
DCB LineStateRecord(const LineSettings& settings);

// The name CreateFile is given for a port name.
std::wstring SystemPortName(std::wstring_view name);

}  // namespace quillon::platform::win32
