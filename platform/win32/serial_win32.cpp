#include "platform/win32/serial_win32.h"

#include <timeapi.h>

#include "platform/win32/waitable_event.h"
#include "platform/win32/win32_names.h"

namespace quillon::platform::win32 {
namespace {

// Asks the system for a 1 ms timer for as long as a port is open: waits of 1 ms then last about
// 1 ms instead of a whole scheduler tick (about 15.6 ms by default), which keeps the link's
// re-send spacing of 25 paused passes at about 25 ms.
class FineTimer {
 public:
  FineTimer() : held_(timeBeginPeriod(1) == TIMERR_NOERROR) {}
  ~FineTimer() {
    if (held_) timeEndPeriod(1);
  }
  FineTimer(const FineTimer&) = delete;
  FineTimer& operator=(const FineTimer&) = delete;

 private:
  bool held_;
};

// The port is opened for overlapped I/O, so that a wait for input (WaitCommEvent) can be waited
// on together with the stop event. Reads and writes are overlapped too but wait for their own
// completion: to the caller they behave as plain ReadFile and WriteFile do.
class Win32SerialDevice final : public SerialDevice {
 public:
  explicit Win32SerialDevice(HANDLE port)
      : port_(port), ioDone_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        inputSeen_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Win32SerialDevice() override {
    // The system writes into waitState_ until the pending wait has ended.
    if (waitPending_) {
      CancelIo(port_.get());
      DWORD ignored = 0;
      (void)GetOverlappedResult(port_.get(), &waitState_, &ignored, TRUE);
    }
  }
  Win32SerialDevice(const Win32SerialDevice&) = delete;
  Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

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

  ErrorCode Purge() override {
    return PurgeComm(port_.get(), PURGE_TXCLEAR | PURGE_RXCLEAR) ? kSuccess : LastError();
  }

  ErrorCode Read(std::span<std::uint8_t> buffer, std::uint32_t* got) override {
    DWORD count = 0;
    const ErrorCode result = Transfer(false, buffer.data(), static_cast<DWORD>(buffer.size()), &count);
    *got = count;
    return result;
  }

  // With write time-outs set, a write that runs out of time succeeds with fewer bytes written.
  ErrorCode Write(std::span<const std::uint8_t> bytes, std::uint32_t* written) override {
    DWORD count = 0;
    const ErrorCode result =
        Transfer(true, const_cast<std::uint8_t*>(bytes.data()), static_cast<DWORD>(bytes.size()), &count);
    *written = count;
    if (result != kSuccess) return result;
    return count < bytes.size() ? kErrorTimeout : kSuccess;
  }

  // WaitCommEvent for EV_RXCHAR, left pending from one wait to the next, and the stop event in
  // one WaitForMultipleObjects. The stop event comes first, so that it wins when both are set.
  InputWait WaitForInput(Event* stop, std::uint32_t timeoutMs) override {
    if (!ioDone_.Valid() || !inputSeen_.Valid()) return InputWait::kUnsupported;
    if (!maskSet_) {
      if (!SetCommMask(port_.get(), EV_RXCHAR)) return InputWait::kUnsupported;
      maskSet_ = true;
    }
    DWORD errors = 0;
    COMSTAT status{};
    if (ClearCommError(port_.get(), &errors, &status) && status.cbInQue > 0) return InputWait::kInput;
    if (!waitPending_) {
      ResetEvent(inputSeen_.get());
      waitState_ = OVERLAPPED{};
      waitState_.hEvent = inputSeen_.get();
      events_ = 0;
      if (WaitCommEvent(port_.get(), &events_, &waitState_)) {
        if ((events_ & EV_RXCHAR) != 0) return InputWait::kInput;
        // Ended at once without input (the mask was changed): wait for the stop event alone.
      } else if (GetLastError() == ERROR_IO_PENDING) {
        waitPending_ = true;
      } else {
        return InputWait::kUnsupported;
      }
    }
    const auto* waitable = dynamic_cast<const WaitableEvent*>(stop);
    HANDLE handles[2];
    DWORD count = 0;
    if (waitable != nullptr) handles[count++] = waitable->NativeHandle();
    const DWORD inputIndex = count;
    if (waitPending_) handles[count++] = inputSeen_.get();
    DWORD woke = WAIT_TIMEOUT;
    if (count != 0) {
      woke = WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
    } else {
      Sleep(timeoutMs);
    }
    if (woke == WAIT_FAILED) return InputWait::kUnsupported;
    if (waitable != nullptr && woke == WAIT_OBJECT_0) return InputWait::kStopped;
    if (waitable == nullptr && stop != nullptr && stop->Wait(0)) return InputWait::kStopped;
    if (waitPending_ && woke == WAIT_OBJECT_0 + inputIndex) {
      DWORD ignored = 0;
      (void)GetOverlappedResult(port_.get(), &waitState_, &ignored, FALSE);
      waitPending_ = false;
      return InputWait::kInput;
    }
    return InputWait::kTimedOut;
  }

 private:
  ErrorCode Transfer(bool write, std::uint8_t* bytes, DWORD size, DWORD* done) {
    *done = 0;
    if (!ioDone_.Valid()) return kErrorGenFailure;
    OVERLAPPED state{};
    state.hEvent = ioDone_.get();
    ResetEvent(ioDone_.get());
    const BOOL ok = write ? WriteFile(port_.get(), bytes, size, nullptr, &state)
                          : ReadFile(port_.get(), bytes, size, nullptr, &state);
    if (!ok && GetLastError() != ERROR_IO_PENDING) return LastError();
    // Done at once or pending: the result (and the count) comes from the same call.
    return GetOverlappedResult(port_.get(), &state, done, TRUE) ? kSuccess : LastError();
  }

  Handle port_;
  Handle ioDone_;
  Handle inputSeen_;
  FineTimer timer_;
  OVERLAPPED waitState_{};
  DWORD events_ = 0;
  bool waitPending_ = false;
  bool maskSet_ = false;
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
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    *error = LastError();
    return nullptr;
  }
  *error = kSuccess;
  return std::make_unique<Win32SerialDevice>(port);
}

}  // namespace quillon::platform::win32
