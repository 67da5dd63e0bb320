// The module's baud rate: the rate a PSR file sets, and writing it into the stack's keys and the
// backup once the file has been programmed.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/files.h"
#include "platform/registry.h"
#include "setup/dialog_record.h"
#include "setup/stack_registry.h"

namespace quillon {

// The PS keys that carry the module's baud rate.
inline constexpr std::array<std::uint16_t, 4> kBaudKeys = {0x0191, 0x01be, 0x0204, 0x0207};
// Written by the stack's baud rate into "baud" besides the transport key and the backup.
inline constexpr wchar_t kHciBackupPath[] = L"Software\\Microsoft\\HCI";

struct BaudValue {
  std::uint16_t value;  // the key's value: the rate × 4096 / 1000000, rounded
  std::int32_t rate;
};
inline constexpr std::array<BaudValue, 7> kBaudTable = {{
    {0x009D, 38400},
    {0x00EC, 57600},
    {0x01D8, 115200},
    {0x03B0, 230400},
    {0x075F, 460800},
    {0x0EBF, 921600},
    {0x161E, 1382400},
}};

// The rate a key value stands for; 0 for a value outside the table.
std::int32_t BaudRateOfValue(std::uint32_t value);

class BaudRate {
 public:
  BaudRate(platform::Files& files, platform::Registry& registry, DialogRecord& record, StackRegistry& stack)
      : files_(files), registry_(registry), record_(record), stack_(stack) {}

  // Sets *newBaud to m_baudrate, then to the rate of the file's last baud key line, read as a
  // programming run reads it. 0, 116 (the file cannot be opened), 117 (no memory for the lines).
  int ReadBaudrateIfAnyFromPsr(std::wstring_view path, std::int32_t* newBaud);
  // Writes "baud" into the transport key that carries the marked port name, the HCI key and the
  // backup. 0, or 105 when the transports key cannot be opened (the others are written anyway).
  int UpdateBaudrateIfNecessary(std::int32_t newBaud);

 private:
  platform::Files& files_;
  platform::Registry& registry_;
  DialogRecord& record_;
  StackRegistry& stack_;
};

}  // namespace quillon
