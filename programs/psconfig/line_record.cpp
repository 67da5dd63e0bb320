#include "programs/psconfig/line_record.h"

#include <cstdio>

#include "platform/utc_time.h"
#include "psconfig/address_journal.h"

namespace quillon::psconfig {
namespace {

std::string JsonText(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

}  // namespace

std::string LineRecord::Json(const RecordEntry& entry, const std::string& time) {
  char build[16] = "null";
  if (entry.buildId != 0) std::snprintf(build, sizeof build, "\"0x%04x\"", entry.buildId);
  return "{\"time\":" + JsonText(time) + ",\"port\":" + JsonText(entry.port) + ",\"build\":" + build +
         ",\"address\":" + (entry.address ? JsonText(entry.address->Text()) : "null") +
         ",\"result\":" + JsonText(entry.result) + ",\"status\":" + std::to_string(entry.status) +
         ",\"keys_written\":" + std::to_string(entry.keysWritten) +
         ",\"verified\":" + (entry.verified ? (*entry.verified ? "true" : "false") : "null") + "}\n";
}

std::string LineRecord::Add(const RecordEntry& entry) {
  const std::lock_guard<std::mutex> hold(lock_);
  if (const platform::ErrorCode error = file_.Lock(); error != platform::kSuccess) {
    return "cannot be locked (" + AddressJournal::FileErrorText(error) + ")";
  }
  std::string line = Json(entry, platform::UtcNow());
  std::string last;
  // A line cut by a crash stays as it is; the next one starts on a line of its own.
  if (file_.ReadFrom(0, &last) == platform::kSuccess && !last.empty() && last.back() != '\n') line.insert(0, "\n");
  const platform::ErrorCode error = file_.Append(line);
  file_.Unlock();
  return error == platform::kSuccess ? std::string()
                                     : "cannot be written (" + AddressJournal::FileErrorText(error) + ")";
}

}  // namespace quillon::psconfig
