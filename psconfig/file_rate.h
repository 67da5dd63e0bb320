// The UART rate a PSR file leaves the module at once it is in the store and the module has
// restarted, as far as the file tells: its rate keys read as a programming run reads them.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string_view>

#include "platform/files.h"
#include "psconfig/psr_reader.h"
#include "psconfig/uart_rate.h"

namespace quillon {

// The rate keys of a file's lines as they are read: for each key, the first value of its last line.
class UartRateKeyLines {
 public:
  void Take(const PsrLine& line, std::span<const std::uint16_t> values);
  AppliedUartRate Applied() const;

 private:
  std::array<std::optional<std::uint16_t>, kUartRateKeys.size()> written_{};
};

// What the file's rate keys make of the module's rate (key 0 when it sets none, or cannot be read).
AppliedUartRate UartRateOfPsrFile(platform::Files& files, std::wstring_view path);

}  // namespace quillon
