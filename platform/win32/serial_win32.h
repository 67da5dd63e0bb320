// Serial devices on Windows: CreateFile with no sharing, SetCommState, SetCommTimeouts, SetupComm,
// EscapeCommFunction, PurgeComm, ReadFile and WriteFile. "COM4:" (the handheld's form) is opened
// as \\.\COM4 on desktop Windows, which also reaches ports above COM9.
#pragma once

#include "platform/serial_device.h"

namespace quillon::platform::win32 {

class Win32SerialDevices final : public SerialDevices {
 public:
  std::unique_ptr<SerialDevice> Open(std::wstring_view name, ErrorCode* error) override;
};

// The name CreateFile is given for a port name.
std::wstring SystemPortName(std::wstring_view name);

}  // namespace quillon::platform::win32
