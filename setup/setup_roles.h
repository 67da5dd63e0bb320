// The platform roles that the setup's operations use, handed in by whoever builds the setup.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "platform/files.h"
#include "platform/kernel_objects.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace quillon {

struct SetupRoles {
  platform::Registry& registry;
  platform::Files& files;
  platform::System& system;
};

// One programming run: programs the PSR file at `psrPath` into the module on `port`, which talks
// at `baudRate`; returns when done or when `stop` is set. Results: 0 done (or stopped),
// 1 not completed, 2 port, 3 file, 4 no keys; anything else is an unknown failure.
using ProgrammingRun =
    std::function<int(std::wstring_view port, std::uint32_t baudRate, std::wstring_view psrPath, platform::Event* stop)>;

}  // namespace quillon
