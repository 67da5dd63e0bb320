#include "platform/win32/serial_win32.h"

#include <timeapi.h>

#include <algorithm>

#include "platform/win32/waitable_event.h"
#include "platform/win32/win32_names.h"

namespace quillon::platform::win32 {
namespace {

// Asks the system for a 1 ms timer while a port is open: a wait of 1 ms (a paused pass, a
// time-out of WaitForMultipleObjects, the link's re-send pacing) then lasts about 1 ms instead
// of a whole scheduler tick (about 15.6 ms by default).
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

// The port is opened for overlapped I/O, so that the arrival of a byte can be waited on beside the
// stop event. The waiting is done by one pending one-byte read: the first byte that arrives ends
// it, is kept, and is handed out first by the next Read. Reads and writes of the caller are
// overlapped too (Windows wants a record for every I/O on such a handle) but wait for their own
// end, so to the caller they behave as plain ReadFile and WriteFile.
// Used by one thread at a time.
class Win32SerialDevice final : public SerialDevice {
 public:
  Win32SerialDevice(HANDLE port, HANDLE ioDone, HANDLE inputSeen)
      : port_(port), ioDone_(ioDone), inputSeen_(inputSeen) {}
  // The system writes into waitState_ and waitByte_ until the pending read has ended.
  ~Win32SerialDevice() override { EndWaitRead(); }
  Win32SerialDevice(const Win32SerialDevice&) = delete;
  Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

  ErrorCode SetLineState(const LineSettings& settings) override {
    DCB line = LineStateRecord(settings);
    return SetCommState(port_.get(), &line) ? kSuccess : LastError();
  }

  // Reads always return at once with what has arrived (as on the POSIX port), so other read
  // time-outs are refused. They are made by asking for no more than has arrived, on a port whose
  // reads wait for every byte asked for: the wait read then needs no time-outs of its own, and
  // Wine, which lets an overlapped read with "return at once" time-outs wait for its first byte
  // however long, is never asked one.
  ErrorCode SetTimeouts(const Timeouts& timeouts) override {
    if (!ReadsReturnAtOnce(timeouts)) return kErrorInvalidParameter;
    COMMTIMEOUTS values{};  // reads wait for every byte asked for
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

  // A byte taken by the wait read arrived before the purge: it goes with the rest. PurgeComm's
  // PURGE_RXABORT would end the pending read on Windows but not under Wine, hence CancelIoEx.
  ErrorCode Purge() override {
    EndWaitRead();
    keptByte_ = false;
    return PurgeComm(port_.get(), PURGE_TXCLEAR | PURGE_RXCLEAR) ? kSuccess : LastError();
  }

  ErrorCode Read(std::span<std::uint8_t> buffer, std::uint32_t* got) override {
    *got = 0;
    if (buffer.empty()) return kSuccess;
    // Windows serves one read at a time: a read now would queue behind the pending one. The
    // first byte to arrive ends that one, so while it is pending nothing has arrived.
    if (waitReadPending_ && !WaitReadEnded(false)) return kSuccess;
    std::uint32_t taken = 0;
    if (keptByte_) {
      buffer[taken++] = waitByte_;
      keptByte_ = false;
      if (buffer.size() == 1) {
        *got = 1;
        return kSuccess;
      }
    }
    // The port waits for every byte asked for (see SetTimeouts): only what has arrived is.
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port_.get(), &errors, &status)) {
      *got = taken;
      return taken != 0 ? kSuccess : LastError();
    }
    const DWORD size = std::min<DWORD>(static_cast<DWORD>(buffer.size() - taken), status.cbInQue);
    if (size == 0) {
      *got = taken;
      return kSuccess;
    }
    DWORD count = 0;
    const ErrorCode result = Transfer(false, buffer.data() + taken, size, &count);
    *got = taken + count;
    // The kept byte is delivered all the same; a fault of the line shows on the next read.
    return taken != 0 ? kSuccess : result;
  }

  // With write time-outs set, a write that runs out of time succeeds with fewer bytes written.
  ErrorCode Write(std::span<const std::uint8_t> bytes, std::uint32_t* written) override {
    DWORD count = 0;
    const ErrorCode result = Transfer(true, const_cast<std::uint8_t*>(bytes.data()), static_cast<DWORD>(bytes.size()),
                                      &count);
    *written = count;
    if (result != kSuccess) return result;
    return count < bytes.size() ? kErrorTimeout : kSuccess;
  }

  // The pending wait read and the stop event in one WaitForMultipleObjects; the stop event comes
  // first, so that it wins when both are set. A read that ends without a byte means a line that
  // has hung up or failed (under Wine a pseudo-terminal whose other end closed reads 0 bytes at
  // once, for ever): then only the stop event is waited on, so that a pass never spins.
  InputWait WaitForInput(Event* stop, std::uint32_t timeoutMs) override {
    if (keptByte_) return InputWait::kInput;
    const auto* waitable = dynamic_cast<const WaitableEvent*>(stop);
    const bool lineFault = !waitReadPending_ && !StartWaitRead();
    HANDLE handles[2];
    DWORD count = 0;
    if (waitable != nullptr) handles[count++] = waitable->NativeHandle();
    const DWORD inputIndex = count;
    if (!lineFault) handles[count++] = inputSeen_.get();
    DWORD woke = WaitAny(handles, count, timeoutMs);
    if (woke == WAIT_OBJECT_0 + inputIndex && !lineFault) {
      WaitReadEnded(false);
      if (keptByte_) return InputWait::kInput;
      // Ended without a byte: the line's fault. The stop event alone, for the time asked.
      woke = WaitAny(handles, inputIndex, timeoutMs);
    }
    if (woke == WAIT_FAILED) return InputWait::kUnsupported;
    if (waitable != nullptr && woke == WAIT_OBJECT_0) return InputWait::kStopped;
    if (waitable == nullptr && stop != nullptr && stop->Wait(0)) return InputWait::kStopped;
    return InputWait::kTimedOut;
  }

 private:
  // The event an I/O record carries. ReadFile and WriteFile reset it themselves when they start,
  // so it is never reset beforehand. Its low bit set keeps the I/O's end off any completion port:
  // the port has none, yet without the bit every I/O that ends at once still reports to one
  // (under Wine a trip to its server per write).
  static HANDLE QuietEvent(HANDLE event) { return reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) | 1); }

  static DWORD WaitAny(const HANDLE* handles, DWORD count, std::uint32_t timeoutMs) {
    if (count != 0) return WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
    Sleep(timeoutMs);
    return WAIT_TIMEOUT;
  }

  // A one-byte read that waits for its byte however long it takes (the port's read time-outs
  // are all 0, see SetTimeouts). False when the read could not start.
  bool StartWaitRead() {
    waitState_ = OVERLAPPED{};
    waitState_.hEvent = QuietEvent(inputSeen_.get());
    const BOOL done = ReadFile(port_.get(), &waitByte_, 1, nullptr, &waitState_);
    if (!done && GetLastError() != ERROR_IO_PENDING) return false;
    // Ended at once or not: its event says which, and WaitReadEnded takes the outcome.
    waitReadPending_ = true;
    return true;
  }

  // True when the pending read has ended (keeping its byte, if it got one); false while it
  // still waits. wait: until it ends.
  bool WaitReadEnded(bool wait) {
    if (!waitReadPending_) return true;
    DWORD count = 0;
    if (!GetOverlappedResult(port_.get(), &waitState_, &count, wait ? TRUE : FALSE) &&
        GetLastError() == ERROR_IO_INCOMPLETE) {
      return false;
    }
    waitReadPending_ = false;
    keptByte_ = count == 1;
    return true;
  }

  // Cancels the pending read and waits until the system has let go of its record.
  void EndWaitRead() {
    if (!waitReadPending_) return;
    CancelIoEx(port_.get(), &waitState_);  // fails when it has just ended: the wait below holds
    WaitReadEnded(true);
  }

  ErrorCode Transfer(bool write, std::uint8_t* bytes, DWORD size, DWORD* done) {
    *done = 0;
    OVERLAPPED state{};
    state.hEvent = QuietEvent(ioDone_.get());
    const BOOL ok = write ? WriteFile(port_.get(), bytes, size, nullptr, &state)
                          : ReadFile(port_.get(), bytes, size, nullptr, &state);
    if (!ok && GetLastError() != ERROR_IO_PENDING) return LastError();
    // Done at once or pending: the outcome and the count come from the same call.
    return GetOverlappedResult(port_.get(), &state, done, TRUE) ? kSuccess : LastError();
  }

  Handle port_;
  Handle ioDone_;     // the caller's reads and writes, one at a time
  Handle inputSeen_;  // the wait read
  FineTimer timer_;
  OVERLAPPED waitState_{};
  std::uint8_t waitByte_ = 0;
  bool waitReadPending_ = false;
  bool keptByte_ = false;  // waitByte_ arrived and has not been handed out yet
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
  Handle port(CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
  Handle ioDone(port.Valid() ? CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr);
  Handle inputSeen(ioDone.Valid() ? CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr);
  if (!inputSeen.Valid()) {
    *error = LastError();
    return nullptr;
  }
  *error = kSuccess;
  auto opened = std::make_unique<Win32SerialDevice>(port.get(), ioDone.get(), inputSeen.get());
  port.Release();
  ioDone.Release();
  inputSeen.Release();
  return opened;
}

}  // namespace quillon::platform::win32
