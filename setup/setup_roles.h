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
// at `baudRate`; returns when done or when `stop` is set. Results: 0 done (or stopped after the
// warm reset was sent), kProgrammingStoppedEarly, 1 not completed, 2 port, 3 file, 4 no keys;
// anything else is an unknown failure.
using ProgrammingRun = std::function<int(std::wstring_view port, std::uint32_t baudRate, std::wstring_view psrPath,
                                         platform::Event* stop)>;

// The run was stopped before the module was sent its warm reset: the setup carries on as after a
// successful run, but the module still talks at its old rate, so the rate in the registry stays.
inline constexpr int kProgrammingStoppedEarly = -1;

}  // namespace quillon
