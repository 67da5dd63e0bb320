// The module's serial port: opened and configured for BCSP, then read and written one byte at a
// time by the link engine.
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
  static constexpr std::uint32_t kQueueSize = 16;
  static constexpr std::uint32_t kModemLineSettleMs = 50;
  // A write that is not taken by then has failed, as a byte lost on the line does: a line whose
  // other end has stopped reading must not hold the programming loop (and its stop request).
  static constexpr std::uint32_t kWriteTimeoutMs = 100;

  // Opens devices through `platform`'s serial role, which outlives the port.
  explicit SerialPort(const platform::Platform& platform);
  ~SerialPort() { Close(); }
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens the port (such as L"COM4:") and sets it up for BCSP at `baudRate`: 8 data bits, even
  // parity, one stop bit, no flow control, reads that return at once, writes that give up after
  // kWriteTimeoutMs. The input buffer starts empty: nothing of an earlier opening is handed out.
  // Returns 0, or 201 to 204 with the failed step's trace line; the port is then closed.
  std::int32_t InitialiseWindows(std::wstring_view portName, std::uint32_t baudRate);
  // Writes one byte; the outcome is not examined (BCSP re-sends what is lost or timed out).
  void PutByte(std::uint8_t byte);
  // The next received byte, served from the input buffer; false at once when none has arrived.
  bool GetByte(std::uint8_t* byte);
  // Waits at most timeoutMs for input or for `stop`; at once kInput while bytes are buffered.
  // kUnsupported when the port is closed or its device cannot wait.
  platform::InputWait WaitForInput(platform::Event* stop, std::uint32_t timeoutMs);
  void Close();

  bool IsOpen() const { return device_ != nullptr; }
  // The platform's error code of the step that failed in the last InitialiseWindows (0 if none).
  platform::ErrorCode LastError() const { return lastError_; }
  std::uint8_t ReadIndex() const { return readIndex_; }
  std::uint8_t FillCount() const { return fillCount_; }

 private:
  const platform::Platform& platform_;
  std::unique_ptr<platform::SerialDevice> device_;
  platform::ErrorCode lastError_ = platform::kSuccess;
  std::array<std::uint8_t, kInputBufferSize> input_{};
  // Emptied when the port opens.
  std::uint8_t readIndex_ = 0;
  std::uint8_t fillCount_ = 0;
};

}  // namespace quillon
