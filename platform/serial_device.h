// Serial devices, shaped after the Windows communications calls.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/errors.h"
#include "platform/kernel_objects.h"

namespace quillon::platform {

enum class Parity : std::uint8_t { kNone = 0, kOdd = 1, kEven = 2, kMark = 3, kSpace = 4 };
enum class StopBits : std::uint8_t { kOne = 0, kOneAndHalf = 1, kTwo = 2 };

// The line state. Every flag left false means: no flow control of any kind, DTR and RTS left to
// the program, no parity checking, no error or null-byte handling.
struct LineSettings {
  std::uint32_t baudRate = 0;
  std::uint8_t dataBits = 0;
  Parity parity = Parity::kNone;
  StopBits stopBits = StopBits::kOne;
  bool ctsFlowControl = false;
  bool dsrFlowControl = false;
  bool xonXoff = false;
  bool parityCheck = false;
  bool dtrControl = false;
  bool rtsControl = false;
};

// As on Windows, in milliseconds. A write may take writeTotalMultiplier per byte plus
// writeTotalConstant; both 0: writes wait until every byte has been taken.
struct Timeouts {
  std::uint32_t readInterval = 0;
  std::uint32_t readTotalMultiplier = 0;
  std::uint32_t readTotalConstant = 0;
  std::uint32_t writeTotalMultiplier = 0;
  std::uint32_t writeTotalConstant = 0;
};

// Reads return at once with what has arrived; writes are not timed.
inline constexpr Timeouts kReadReturnsAtOnce{0xFFFFFFFFu, 0, 0, 0, 0};
// The only read time-outs the serial devices take: reads never wait (the run waits on the line
// through WaitForInput instead).
inline constexpr bool ReadsReturnAtOnce(const Timeouts& timeouts) {
  return timeouts.readInterval == kReadReturnsAtOnce.readInterval && timeouts.readTotalMultiplier == 0 &&
         timeouts.readTotalConstant == 0;
}

enum class ModemLine { kClearDtr, kClearRts, kSetDtr, kSetRts };

// How a wait for input ended.
enum class InputWait : std::uint8_t {
  kInput,        // a byte waits to be read (or the line reports a fault that a read will show)
  kStopped,      // the stop event is set
  kTimedOut,     // the time passed with neither
  kUnsupported,  // this device cannot wait: the caller sleeps instead
};

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;  // closes the device
  virtual ErrorCode SetLineState(const LineSettings& settings) = 0;
  virtual ErrorCode SetTimeouts(const Timeouts& timeouts) = 0;
  virtual ErrorCode SetupQueues(std::uint32_t inputBytes, std::uint32_t outputBytes) = 0;
  virtual ErrorCode Escape(ModemLine line) = 0;
  // Discards what waits in both directions.
  virtual ErrorCode Purge() = 0;
  virtual ErrorCode Read(std::span<std::uint8_t> buffer, std::uint32_t* got) = 0;
  // kErrorTimeout, with *written short, when the write time-outs passed before all was taken.
  virtual ErrorCode Write(std::span<const std::uint8_t> bytes, std::uint32_t* written) = 0;
  // Waits at most timeoutMs for a byte to arrive or for `stop` (may be null) to be set, and
  // ends as soon as either happens, without depending on the scheduler's tick.
  virtual InputWait WaitForInput(Event* /*stop*/, std::uint32_t /*timeoutMs*/) { return InputWait::kUnsupported; }
};

class SerialDevices {
 public:
  virtual ~SerialDevices() = default;
  // Opens the device exclusively for reading and writing. Null and *error on failure.
  virtual std::unique_ptr<SerialDevice> Open(std::wstring_view name, ErrorCode* error) = 0;
  // The file the name opens, where ports are files (a path, or a "COMn:" the device maps to
  // one); else the name itself. Two names with the same file are the same port.
  virtual std::wstring FileOf(std::wstring_view name) { return std::wstring(name); }
};

}  // namespace quillon::platform
