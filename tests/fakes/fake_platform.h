// A whole platform of fakes, one per test fixture; hand `roles` to the objects under test.
#pragma once

#include "platform/platform.h"
#include "tests/fakes/fake_kernel_objects.h"
#include "tests/fakes/fake_window_messages.h"
#include "tests/fakes/manual_clock.h"
#include "tests/fakes/memory_files.h"
#include "tests/fakes/memory_registry.h"
#include "tests/fakes/scripted_serial.h"

namespace quillon::testing {

struct FakePlatform {
  ManualClock clock;
  FakeKernelObjects kernel;
  MemoryRegistry registry;
  SerialScript serialScript;
  ScriptedSerialDevices serial{serialScript};
  FakeWindowMessages messages;
  MemoryFiles files;
  platform::Platform roles{&clock, &kernel, &files, nullptr, &registry, &serial, nullptr, &messages};
};

}  // namespace quillon::testing
