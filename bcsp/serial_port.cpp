#include "bcsp/serial_port.h"

#include <algorithm>
#include <utility>

#include "bcsp/bcsp_codec.h"
#include "trace/trace.h"
#include "trace/trace_scope.h"

namespace quillon {

SerialPort::SerialPort(const platform::Platform& platform, std::size_t gatherLimit)
    : platform_(platform), gatherLimit_(std::clamp<std::size_t>(gatherLimit, 1, kOutputBufferSize)) {}

std::int32_t SerialPort::InitialiseWindows(std::wstring_view portName, std::uint32_t baudRate) {
  TraceScope scope(L"PSConfig InitialiseWindows");
  Trace& trace = Trace::Process();
  auto fail = [&](std::int32_t code) {
    scope.Store(code);
    scope.Report();
    device_.reset();
    return scope.Result();
  };
  Close();  // and with it the bytes of an earlier opening

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
  timeouts.writeTotalConstant = WriteTimeoutMs(baudRate);
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
  output_[gathered_++] = byte;
  // SLIP never sends the delimiter inside a frame: one that follows other bytes ends a frame,
  // which the module can take as soon as it is whole.
  const bool frameEnds = byte == kSlipDelimiter && inFrame_;
  inFrame_ = byte != kSlipDelimiter;
  if (frameEnds || gathered_ >= gatherLimit_) Flush();
}

void SerialPort::Flush() {
  const std::size_t count = std::exchange(gathered_, 0);
  if (count == 0 || !device_) return;
  std::uint32_t written = 0;
  // A short count comes with a failure or a time-out; the bytes not taken are not tried again,
  // as a byte that fails alone is not.
  (void)device_->Write(std::span<const std::uint8_t>(output_.data(), count), &written);
  bytesLost_ += count - std::min<std::size_t>(written, count);
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
  Flush();
  if (readIndex_ != fillCount_) return platform::InputWait::kInput;
  if (!device_) return platform::InputWait::kUnsupported;
  return device_->WaitForInput(stop, timeoutMs);
}

// Bytes read before the port closed belong to a link that is gone: they go with it. Bytes handed
// over before it closed were meant for the line, as they were when each went out alone.
void SerialPort::Close() {
  Flush();
  inFrame_ = false;
  device_.reset();
  readIndex_ = 0;
  fillCount_ = 0;
}

}  // namespace quillon
