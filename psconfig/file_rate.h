// The UART rate a PSR file leaves the module at once it is in the store and the module has
// restarted, as far as the file tells: its rate keys read as a programming run reads them.
#pragma once

#include <string_view>

#include "platform/files.h"
#include "psconfig/uart_rate.h"

namespace quillon {

// What the file's rate keys make of the module's rate (key 0 when it sets none, or cannot be read).
AppliedUartRate UartRateOfPsrFile(platform::Files& files, std::wstring_view path);

}  // namespace quillon
