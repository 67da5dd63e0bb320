// A serial device that follows a script: what each step returns, what each read delivers, and
// a log of every call in order, for tests of the code above the device.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/kernel_objects.h"
#include "platform/serial_device.h"
#include "tests/fakes/manual_clock.h"

namespace quillon::testing {

struct SerialScript {
  platform::ErrorCode openError = platform::kSuccess;
  // Errors of single steps by name: "line", "timeouts", "queues", "escape", "purge".
  std::map<std::string, platform::ErrorCode> stepErrors;
  // Each read takes the next chunk (up to the caller's buffer size); none left: 0 bytes.
  std::deque<std::vector<std::uint8_t>> reads;
  // WaitForInput: false makes the device one that cannot wait. A wait ends with kInput while
  // reads are left, else with kStopped while the stop event is set, else it times out; the
  // bytes of `arrivals[n]` come during the n-th wait (from 1), and `stopAtWait` sets the stop
  // event during that wait.
  bool canWait = true;
  std::map<int, std::vector<std::uint8_t>> arrivals;
  int stopAtWait = 0;
  int waits = 0;
  // When set, every wait lasts a millisecond of this clock.
  ManualClock* clock = nullptr;
  // Set once more than `writeBackstop` bytes are written (a run that writes without end fails its
  // test instead of filling the memory), and by the `stopAtRead`-th read (from 1).
  platform::Event* stop = nullptr;
  std::size_t writeBackstop = 100000;
  int stopAtRead = 0;
  // Writes refuse the bytes at [refuseFrom, refuseTo) of all bytes offered to them, as a line
  // that stops taking bytes: a write takes what it holds before the first refused byte and fails
  // with kErrorTimeout (some taken) or kErrorGenFailure (none). `written` holds what was taken.
  std::size_t refuseFrom = 0;
  std::size_t refuseTo = 0;
  // Indexes into `calls` of the reads that delivered bytes.
  std::vector<std::size_t> deliveries;

  // Filled in by the device.
  std::vector<std::string> calls;
  std::vector<std::uint8_t> written;
  std::size_t offered = 0;
  int readCalls = 0;
  platform::LineSettings line;
  platform::Timeouts timeouts;
  std::wstring openedName;
  int openDevices = 0;
};

class ScriptedSerialDevices final : public platform::SerialDevices {
 public:
  explicit ScriptedSerialDevices(SerialScript& script) : script_(script) {}
  std::unique_ptr<platform::SerialDevice> Open(std::wstring_view name, platform::ErrorCode* error) override;

 private:
  SerialScript& script_;
};

}  // namespace quillon::testing
