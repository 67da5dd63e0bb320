// What the tests of whole runs share: the program's side (port, link, run) on the fake platform,
// against the module simulator in this process, with the trace's lines recorded.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "psconfig/psconfig.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/recording_console.h"
#include "tests/fakes/recording_echo.h"
#include "tools/module_simulator/in_process_serial.h"

namespace quillon::testing {

// A PSR file of keys 1..count, two values each; `salt` changes the first value.
inline std::string Keys(int count, int salt = 0) {
  std::string text = "// generated\n";
  for (int key = 1; key <= count; ++key) {
    char line[48];
    std::snprintf(line, sizeof line, "&%04x = %04x %04x\n", key, key + salt, 0xFFFF - key);
    text += line;
  }
  return text;
}

struct SimulatedRun {
  // A new module on the line; the program's side stays.
  void ReplaceModule(const sim::SimulatorOptions& options) {
    devices.reset();
    module = std::make_unique<sim::ModuleSimulator>(options);
    devices = std::make_unique<sim::InProcessSerialDevices>(*module, fake.clock);
    roles.serial = devices.get();
  }
  // The module, then the program's side.
  void Start(const sim::SimulatorOptions& options) {
    ReplaceModule(options);
    Connect();
  }
  // The program's side on `roles` as they are (a test may replace the clock or serial devices first).
  void Connect() {
    port = std::make_unique<SerialPort>(roles);
    link = std::make_unique<BcspLink>(*port, *roles.clock, console);
    run = std::make_unique<PSConfig>(roles, list, *link, *port, console);
    trace.SetEcho(&echo);
  }
  // The keys of the PS key requests the module took, in order.
  std::vector<std::uint16_t> KeysTaken() const {
    std::vector<std::uint16_t> keys;
    for (const auto& request : module->Requests()) {
      if (request.varId == kVarIdPsKey) keys.push_back(request.psKey);
    }
    return keys;
  }
  std::vector<std::uint16_t> VarIdsTaken() const {
    std::vector<std::uint16_t> varIds;
    for (const auto& request : module->Requests()) varIds.push_back(request.varId);
    return varIds;
  }

  FakePlatform fake;
  platform::Platform roles = fake.roles;
  Trace trace{fake.roles};
  platform::ProcessWide<Trace>::Scoped useTrace{trace};
  RecordingEcho echo;
  RecordingConsole console;
  PsKeyList list;
  std::unique_ptr<sim::ModuleSimulator> module;
  std::unique_ptr<sim::InProcessSerialDevices> devices;
  std::unique_ptr<SerialPort> port;
  std::unique_ptr<BcspLink> link;
  std::unique_ptr<PSConfig> run;
};

}  // namespace quillon::testing
