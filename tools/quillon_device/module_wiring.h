// The module at the far end of the device's serial port: the module simulator (modsim) on a
// pseudo-terminal, linked as the device's COM<n>:. Its PS store lives in a file of the device
// root, loaded when it starts and saved when it ends, so that the module keeps what was
// programmed into it (and the baud rate that names) from one `run` to the next.
#pragma once

#include <memory>
#include <string>

#include "tools/quillon_device/bluetooth_stack.h"
#include "tools/quillon_device/child_program.h"

namespace quillon::device {

struct ModuleWiring {
  std::string modsim;  // the simulator program
  std::string root;    // the device root (absolute)
  unsigned portNumber = 4;
  std::string storeFile;  // PS store kept across runs
};

class ModuleSimulatorChild {
 public:
  // Starts the simulator and waits until it has linked the port. Null when it failed (said in
  // `report`, with the simulator's own words).
  static std::unique_ptr<ModuleSimulatorChild> Start(const ModuleWiring& wiring, const ReportLine& report);
  ~ModuleSimulatorChild();  // ends the simulator as Ctrl-C does, so that it saves its store

 private:
  ModuleSimulatorChild(std::unique_ptr<ChildProgram> child, ReportLine report)
      : child_(std::move(child)), report_(std::move(report)) {}
  std::unique_ptr<ChildProgram> child_;
  ReportLine report_;
};

}  // namespace quillon::device
