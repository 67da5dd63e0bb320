// The module at the far end of the device's serial port: the module simulator (modsim) on a
// pseudo-terminal, linked as the device's COM<n>:. Its PS store is its flash, a file of the device
// root that holds every key it accepted, so that the module keeps what was programmed into it (and
// the baud rate that names) across a power cut: every boot after the first of a `run` is one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tools/quillon_device/bluetooth_stack.h"
#include "tools/quillon_device/child_program.h"

namespace quillon::device {

struct ModuleWiring {
  std::string modsim;  // the simulator program
  std::string root;    // the device root (absolute)
  unsigned portNumber = 4;
  std::string storeFile;      // PS store kept across runs
  std::uint32_t bootMs = 30;  // the module's boot time after power-up
};

class ModuleSimulatorChild {
 public:
  // Starts the simulator and waits until it has linked the port. Null when it failed (said in
  // `report`, with the simulator's own words).
  static std::unique_ptr<ModuleSimulatorChild> Start(const ModuleWiring& wiring, const ReportLine& report);
  ~ModuleSimulatorChild();  // ends the simulator as Ctrl-C does
  // Ends the simulator as a power cut does (SIGKILL): it has kept every key already.
  void PowerCut();

 private:
  ModuleSimulatorChild(std::unique_ptr<ChildProgram> child, ReportLine report)
      : child_(std::move(child)), report_(std::move(report)) {}
  std::unique_ptr<ChildProgram> child_;
  ReportLine report_;
  bool cut_ = false;
};

}  // namespace quillon::device
