// The command line of modsim, read into what the simulator is to do. Numbers are taken only
// when they are whole numbers in range (or probabilities between 0 and 1); nothing is cast.
#pragma once

#include <span>
#include <string>

#include "tools/module_simulator/simulator_options.h"

namespace quillon::sim {

struct SimulatorCommand {
  SimulatorOptions options;
  int link = -1;    // COMn: of the emulated device (of the first module), or -1
  int modules = 1;  // modules, each on a terminal of its own, with a store of its own
  std::string storeFile;
  std::string saveFile;
  std::string logFile;
  bool help = false;
  bool version = false;
};

// Reads the arguments after the program's name. Returns an empty text, or what is wrong.
std::string ReadSimulatorArguments(std::span<const std::string> arguments, SimulatorCommand* command);

}  // namespace quillon::sim
