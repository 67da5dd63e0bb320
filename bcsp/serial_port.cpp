#include "bcsp/serial_port.h"

#include <algorithm>

#include "trace/trace.h"
#include "trace/trace_scope.h"

namespace quillon {

SerialPort::SerialPort(const platform::Platform& platform) : platform_(platform) {}

std::int32_t SerialPort::InitialiseWindows(std::wstring_view portName, std::uint32_t baudRate) {
  TraceScope scope(L"PSConfig InitialiseWindows");
  Trace& trace = Trace::Process();
  auto fail = [&](std::int32_t code) {
    scope.Store(code);
    scope.Report();
    device_.reset();
    return scope.Result();
  };
  Close();
  // Bytes left from an earlier opening belong to a link that is gone.
  readIndex_ = 0;
  fillCount_ = 0;

  platform::ErrorCode error = platform::kSuccess;
  device_ = platform_.serial->Open(portName, &error);
  lastError_ = error;
  if (!device_) {
    trace.Printf(KindInfo, kTraceCategory, L"Cannot open com port %s LastError=%d", portName, error);
    return fail(kSerialOpenFailed);
  }

  platform::LineSettings line;
  line.baudRate = baudRate;
  line.dataBits = 8;
  line.parity = platform::Parity::kEven;
  line.stopBits = platform::StopBits::kOne;
  if (const platform::ErrorCode refused = device_->SetLineState(line); refused != platform::kSuccess) {
    trace.Printf(KindInfo, kTraceCategory, L"Cannot Set Comm State baud=%d LastError=%d", baudRate, refused);
    lastError_ = refused;
    return fail(kSerialLineStateRefused);
  }
  platform::Timeouts timeouts = platform::kReadReturnsAtOnce;
  timeouts.writeTotalConstant = kWriteTimeoutMs;
  if (const platform::ErrorCode refused = device_->SetTimeouts(timeouts); refused != platform::kSuccess) {
    trace.Printf(KindInfo, kTraceCategory, L"Cannot Set Comm Timeouts LastError=%d", refused);
    lastError_ = refused;
    return fail(kSerialTimeoutsRefused);
  }
  if (const platform::ErrorCode refused = device_->SetupQueues(kQueueSize, kQueueSize); refused != platform::kSuccess) {
    trace.Printf(KindInfo, kTraceCategory, L"Cannot SetupComm LastError=%d", refused);
    lastError_ = refused;
    return fail(kSerialQueuesRefused);
  }

  // A pseudo-terminal has no modem lines, so these results are not examined.
  (void)device_->Escape(platform::ModemLine::kClearDtr);
  (void)device_->Escape(platform::ModemLine::kClearRts);
  platform_.clock->Sleep(kModemLineSettleMs);
  (void)device_->Purge();
  (void)device_->Escape(platform::ModemLine::kSetDtr);
  (void)device_->Escape(platform::ModemLine::kSetRts);
  return 0;
}

void SerialPort::PutByte(std::uint8_t byte) {
  if (!device_) return;
  std::uint32_t written = 0;
  (void)device_->Write(std::span<const std::uint8_t>(&byte, 1), &written);
}

bool SerialPort::GetByte(std::uint8_t* byte) {
  if (readIndex_ != fillCount_) {
    *byte = input_[readIndex_++];
    return true;
  }
  readIndex_ = 0;
  fillCount_ = 0;
  if (!device_) return false;
  std::uint32_t got = 0;
  (void)device_->Read(std::span<std::uint8_t>(input_), &got);
  if (got == 0) return false;
  fillCount_ = static_cast<std::uint8_t>(std::min<std::uint32_t>(got, kInputBufferSize));
  *byte = input_[0];
  readIndex_ = 1;
  return true;
}

platform::InputWait SerialPort::WaitForInput(platform::Event* stop, std::uint32_t timeoutMs) {
  if (readIndex_ != fillCount_) return platform::InputWait::kInput;
  if (!device_) return platform::InputWait::kUnsupported;
  return device_->WaitForInput(stop, timeoutMs);
}

void SerialPort::Close() { device_.reset(); }

}  // namespace quillon
