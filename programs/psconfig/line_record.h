// The record of a production line: one JSON object per line and module, appended as each run
// ends, so that a day's modules can be traced afterwards:
//   {"time":"2026-12-08T10:00:00Z","port":"COM4:","build":"0x1f27","address":"00:02:5B:00:A5:A5",
//    "result":"done","status":0,"keys_written":12,"verified":true}
// "build" and "address" are null when the module gave none; "verified" is null without --verify.
// Each line goes to disk in one write and is on it before the next; a line cut by a crash lacks
// its closing brace, so no JSON reader takes it for whole, and the next line starts afresh.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/files.h"
#include "psconfig/bluetooth_address.h"

namespace quillon::psconfig {

struct RecordEntry {
  std::string port;
  std::uint16_t buildId = 0;  // 0: not answered
  std::optional<BluetoothAddress> address;
  std::string result;
  int status = 0;
  std::uint32_t keysWritten = 0;
  std::optional<bool> verified;
};

class LineRecord {
 public:
  explicit LineRecord(platform::LogFile& file) : file_(file) {}
  // Empty, or what went wrong.
  std::string Add(const RecordEntry& entry);
  static std::string Json(const RecordEntry& entry, const std::string& time);

 private:
  platform::LogFile& file_;
  std::mutex lock_;
};

}  // namespace quillon::psconfig
