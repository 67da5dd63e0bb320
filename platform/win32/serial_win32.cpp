#include "platform/win32/serial_win32.h"

#include "platform/win32/win32_names.h"

namespace quillon::platform::win32 {
namespace {

class Win32SerialDevice final : public SerialDevice {
 public:
  explicit Win32SerialDevice(HANDLE port) : port_(port) {}

  ErrorCode SetLineState(const LineSettings& settings) override {
    DCB line = LineStateRecord(settings);
    return SetCommState(port_.get(), &line) ? kSuccess : LastError();
  }

  ErrorCode SetTimeouts(const Timeouts& timeouts) override {
    COMMTIMEOUTS values{};
    values.ReadIntervalTimeout = timeouts.readInterval;
    values.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplier;
    values.ReadTotalTimeoutConstant = timeouts.readTotalConstant;
    values.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplier;
    values.WriteTotalTimeoutConstant = timeouts.writeTotalConstant;
    return SetCommTimeouts(port_.get(), &values) ? kSuccess : LastError();
  }

  ErrorCode SetupQueues(std::uint32_t inputBytes, std::uint32_t outputBytes) override {
    return SetupComm(port_.get(), inputBytes, outputBytes) ? kSuccess : LastError();
  }

  ErrorCode Escape(ModemLine line) override {
    static constexpr DWORD kFunctions[] = {CLRDTR, CLRRTS, SETDTR, SETRTS};
    return EscapeCommFunction(port_.get(), kFunctions[static_cast<int>(line)]) ? kSuccess : LastError();
  }

  ErrorCode Purge() override { return PurgeComm(port_.get(), PURGE_TXCLEAR | PURGE_RXCLEAR) ? kSuccess : LastError(); }

  ErrorCode Read(std::span<std::uint8_t> buffer, std::uint32_t* got) override {
    DWORD count = 0;
    const BOOL ok = ReadFile(port_.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &count, nullptr);
    *got = count;
    return ok ? kSuccess : LastError();
  }

  // With write time-outs set, a write that runs out of time succeeds with fewer bytes written.
  ErrorCode Write(std::span<const std::uint8_t> bytes, std::uint32_t* written) override {
    DWORD count = 0;
    const BOOL ok = WriteFile(port_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &count, nullptr);
    *written = count;
    if (!ok) return LastError();
    return count < bytes.size() ? kErrorTimeout : kSuccess;
  }

 private:
  Handle port_;
};

}  // namespace

DCB LineStateRecord(const LineSettings& settings) {
  DCB line{};
  line.DCBlength = sizeof(DCB);
  line.BaudRate = settings.baudRate;
  line.ByteSize = settings.dataBits;
  static constexpr BYTE kParity[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
  line.Parity = kParity[static_cast<int>(settings.parity)];
  static constexpr BYTE kStopBits[] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};
  line.StopBits = kStopBits[static_cast<int>(settings.stopBits)];
  line.fOutxCtsFlow = settings.ctsFlowControl;
  line.fOutxDsrFlow = settings.dsrFlowControl;
  line.fOutX = line.fInX = settings.xonXoff;
  line.XonChar = 0x11;
  line.XoffChar = 0x13;
  line.fParity = settings.parityCheck;
  line.fDtrControl = settings.dtrControl ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_DISABLE;
  line.fRtsControl = settings.rtsControl ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
  return line;
}

std::wstring SystemPortName(std::wstring_view name) {
  std::wstring_view port = name;
  if (port.ends_with(L':')) port.remove_suffix(1);
  const bool isCom = port.size() > 3 && (port[0] == L'C' || port[0] == L'c') && (port[1] == L'O' || port[1] == L'o') &&
                     (port[2] == L'M' || port[2] == L'm') &&
                     port.substr(3).find_first_not_of(L"0123456789") == std::wstring_view::npos;
  if (!isCom) return std::wstring(name);
  return L"\\\\.\\" + std::wstring(port);
}

std::unique_ptr<SerialDevice> Win32SerialDevices::Open(std::wstring_view name, ErrorCode* error) {
  const std::wstring device = SystemPortName(name);
  HANDLE port = CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    *error = LastError();
    return nullptr;
  }
  *error = kSuccess;
  return std::make_unique<Win32SerialDevice>(port);
}

}  // namespace quillon::platform::win32
