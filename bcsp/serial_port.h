// The module's serial port: opened and configured for BCSP, then read and written one byte at a
// time by the link engine.
//
// Output is gathered: the bytes that consecutive polls hand over wait in a buffer and go to the
// device in one write when a frame's closing delimiter has been handed over, when the buffer is
// full, before a wait for input and when the port closes. A write costs a system call (under
// Wine two trips to its server, on Windows a pass through the serial driver): per byte it took
// longer than the byte itself at the higher rates. The bytes and their order on the line are
// those handed over; only the number of writes changes.
//
// Single-threaded: the thread that runs the programming loop opens, polls and closes the port.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/platform.h"

namespace quillon {

inline constexpr std::int32_t kSerialOpenFailed = 201;
inline constexpr std::int32_t kSerialLineStateRefused = 202;
inline constexpr std::int32_t kSerialTimeoutsRefused = 203;
inline constexpr std::int32_t kSerialQueuesRefused = 204;

class SerialPort {
 public:
  static constexpr std::size_t kInputBufferSize = 254;
  // A request's frame of a key of ordinary length fits whole; longer frames go in pieces of this.
  static constexpr std::size_t kOutputBufferSize = 256;
  static constexpr std::uint32_t kQueueSize = 16;
  static constexpr std::uint32_t kModemLineSettleMs = 50;
  // A write that is not taken by then, beyond the time its bytes need on the line, has failed, as
  // a byte lost on the line does: a line whose other end has stopped reading must not hold the
  // programming loop (and its stop request).
  static constexpr std::uint32_t kWriteTimeoutMs = 100;

  // The write time-out at `baudRate`: kWriteTimeoutMs beyond what a full output buffer needs on
  // the line (11 bits a byte), so that a healthy line never times a write out at a low rate.
  static constexpr std::uint32_t WriteTimeoutMs(std::uint32_t baudRate) {
    const std::uint64_t bitsTimesMs = std::uint64_t{kOutputBufferSize} * 11 * 1000;
    const std::uint64_t rate = baudRate == 0 ? 1 : baudRate;
    return kWriteTimeoutMs + static_cast<std::uint32_t>((bitsTimesMs + rate - 1) / rate);
  }

  // Opens devices through `platform`'s serial role, which outlives the port. `gatherLimit`
  // (1 to kOutputBufferSize) is the most bytes one write takes; 1 writes each byte at once.
  explicit SerialPort(const platform::Platform& platform, std::size_t gatherLimit = kOutputBufferSize);
  ~SerialPort() { Close(); }
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens the port (such as L"COM4:") and sets it up for BCSP at `baudRate`: 8 data bits, even
  // parity, one stop bit, no flow control, reads that return at once, writes that give up after
  // WriteTimeoutMs. The input buffer starts empty: nothing of an earlier opening is handed out.
  // Returns 0, or 201 to 204 with the failed step's trace line; the port is then closed.
  std::int32_t InitialiseWindows(std::wstring_view portName, std::uint32_t baudRate);
  // Hands one byte to the line: it is gathered, and written as said above. A write that fails or
  // runs out of time loses the bytes it held and did not take, as a byte lost on the line is
  // lost (BCSP re-sends); BytesLost counts them. Nothing is written while the port is closed.
  void PutByte(std::uint8_t byte);
  // Writes what has been gathered, if anything.
  void Flush();
  // The next received byte, served from the input buffer; false at once when none has arrived.
  bool GetByte(std::uint8_t* byte);
  // Writes what has been gathered, then waits at most timeoutMs for input or for `stop`; at once
  // kInput while bytes are buffered. kUnsupported when the port is closed or its device cannot
  // wait (the caller then sleeps, with nothing left unwritten).
  platform::InputWait WaitForInput(platform::Event* stop, std::uint32_t timeoutMs);
  // Writes what has been gathered (a frame cut short goes out as far as it was handed over, as
  // it would have byte by byte), then closes the device.
  void Close();

  bool IsOpen() const { return device_ != nullptr; }
  // The platform's error code of the step that failed in the last InitialiseWindows (0 if none).
  platform::ErrorCode LastError() const { return lastError_; }
  std::uint8_t ReadIndex() const { return readIndex_; }
  std::uint8_t FillCount() const { return fillCount_; }
  // Bytes handed over that failed or timed-out writes did not take, since the port was made.
  std::uint64_t BytesLost() const { return bytesLost_; }

 private:
  const platform::Platform& platform_;
  std::unique_ptr<platform::SerialDevice> device_;
  platform::ErrorCode lastError_ = platform::kSuccess;
  std::array<std::uint8_t, kInputBufferSize> input_{};
  // Emptied when the port opens.
  std::uint8_t readIndex_ = 0;
  std::uint8_t fillCount_ = 0;
  const std::size_t gatherLimit_;
  std::array<std::uint8_t, kOutputBufferSize> output_{};
  std::size_t gathered_ = 0;
  // A byte other than the delimiter has been handed over since the last delimiter: the next
  // delimiter closes a frame (or ends one cut short) rather than opening one.
  bool inFrame_ = false;
  std::uint64_t bytesLost_ = 0;
};

}  // namespace quillon
