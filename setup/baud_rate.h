// The module's baud rate: the rate a PSR file sets, and writing it into the stack's keys and the
// backup once the file has been programmed.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/files.h"
#include "platform/registry.h"
#include "psconfig/uart_rate.h"
#include "setup/dialog_record.h"
#include "setup/stack_registry.h"

namespace quillon {

// Written by the stack's baud rate into "baud" besides the transport key and the backup.
inline constexpr wchar_t kHciBackupPath[] = L"Software\\Microsoft\\HCI";

// The rate a key value stands for; 0 for a value outside the table.
inline std::int32_t BaudRateOfValue(std::uint32_t value) { return static_cast<std::int32_t>(UartRateOfValue(value)); }

class BaudRate {
 public:
  BaudRate(platform::Files& files, platform::Registry& registry, DialogRecord& record, StackRegistry& stack)
      : files_(files), registry_(registry), record_(record), stack_(stack) {}

  // Sets *newBaud to m_baudrate, then to the rate the module will apply once the file is in its
  // store and it has restarted: of the four rate keys the file writes (each key's last line, read
  // as a programming run reads it), the first in the module's precedence decides. A module that
  // already holds a key of higher precedence may still choose another rate: only the module's
  // answer after its reset is the truth. 0, 116 (the file cannot be opened), 117 (no memory).
  int ReadBaudrateIfAnyFromPsr(std::wstring_view path, std::int32_t* newBaud);
  // Writes "baud" into the backup, the HCI key and the transport key that carries the marked port
  // name, in that order: a power cut between them never leaves the backup older than the
  // transport key, which the backup is later copied over. 0, or 105 when the transports key
  // cannot be opened (the others are written anyway).
  int UpdateBaudrateIfNecessary(std::int32_t newBaud);
  // Writes `rate` as "baud" into the working transport key at `transportPath` and into
  // Software\Microsoft\HCI, each flushed: the stack's keys follow the rate the module was found
  // at. 0, or 119 when a key cannot be opened or written.
  int WriteStackRate(std::wstring_view transportPath, std::uint32_t rate);

 private:
  platform::Files& files_;
  platform::Registry& registry_;
  DialogRecord& record_;
  StackRegistry& stack_;
};

}  // namespace quillon
