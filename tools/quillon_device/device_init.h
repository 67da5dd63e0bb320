// `quillon-device init`: a device root as a handheld has it. The registry of device_layout.h, the
// start-up folder "\Windows\StartUp", the program folder "\Program Files\Quillon" with the
// program (as "quillon") and sample PSR files, and the port link folder "dosdevices".
#pragma once

#include <string>

#include "tools/quillon_device/bluetooth_stack.h"

namespace quillon::device {

inline constexpr char kProgramFolder[] = "Program Files/Quillon";
inline constexpr char kProgramName[] = "quillon";
inline constexpr char kStartUpFolder[] = "Windows/StartUp";

struct InitOptions {
  std::string root;
  unsigned portNumber = 4;
  std::string program;     // the file to install as the program; empty: none
  std::string samples;     // folder whose *.psr files go beside the program; empty: none
  std::string linkTarget;  // when given, COM<n>: is linked to this device now
  bool force = false;      // make an existing root anew
};

// True when the root was made; every step and problem goes to `report`.
bool InitDevice(const InitOptions& options, const ReportLine& report);

}  // namespace quillon::device
