// The platform roles that the setup's operations use, handed in by whoever builds the setup.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
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

// What one programming run did.
struct ProgrammingOutcome {
  // 0 done, kProgrammingStoppedEarly, 1 not completed, 2 port, 3 file, 4 no keys, 7 the module
  // answered at no rate; anything else is an unknown failure.
  int result = 0;
  std::uint32_t moduleRate = 0;    // the rate the module answered at; 0 when it never did
  std::uint32_t requestsSent = 0;  // of `requests`, for what a stop left
  std::uint32_t requests = 0;
};

// One programming run: programs the PSR file at `psrPath` into the module on `port`, looking for
// the module at each of `rates` in turn (the first is the rate it should talk at now); returns
// when done or when `stop` is set.
using ProgrammingRun = std::function<ProgrammingOutcome(std::wstring_view port, std::span<const std::uint32_t> rates,
                                                        std::wstring_view psrPath, platform::Event* stop)>;

// Looks for the module on `port` at each of `rates` in turn and asks its build identifier; with
// `warmReset`, resets it once found. The rate it answered at; 0 when it answered nowhere.
using ModuleProbe = std::function<std::uint32_t(std::wstring_view port, std::span<const std::uint32_t> rates,
                                                bool warmReset, platform::Event* stop)>;

// The run was stopped before the module was sent its warm reset.
inline constexpr int kProgrammingStoppedEarly = -1;

}  // namespace quillon
