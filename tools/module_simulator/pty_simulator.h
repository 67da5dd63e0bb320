// The simulated module behind a pseudo-terminal: the program under test opens the terminal's
// path (or a "COMn:" link to it) as its serial port. A thread of its own runs the module.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tools/module_simulator/module_simulator.h"

namespace quillon::sim {

class PtySimulator {
 public:
  // `store` and `flash` as for ModuleSimulator: the module powers up at the rate the store names.
  explicit PtySimulator(SimulatorOptions options, PsStore store = {}, StoreFlash* flash = nullptr);
  ~PtySimulator();
  PtySimulator(const PtySimulator&) = delete;
  PtySimulator& operator=(const PtySimulator&) = delete;

  bool Opened() const { return master_ >= 0; }
  // The terminal the program opens, such as "/dev/pts/5".
  const std::string& PortPath() const { return portPath_; }
  // Makes "<deviceRoot>/dosdevices/com<number>" point at the terminal. Empty or an error text.
  std::string LinkAs(const std::string& deviceRoot, int number);

  void Start();
  void Stop();  // waits for the module's thread; the module may then be read freely

  // The module, for reading its requests and log while it runs, and its store once stopped.
  ModuleSimulator& Module() { return module_; }

 private:
  void Run();
  void SetLineRaw();
  std::uint32_t HostBaudForgettingBreakAndParityChecks();

  ModuleSimulator module_;
  int master_ = -1;
  std::string portPath_;
  std::string linkPath_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace quillon::sim
