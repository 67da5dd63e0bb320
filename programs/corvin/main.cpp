// corvin: shows the baud rate that the device's built-in Bluetooth transport is configured for.
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/program_version.h"
#include "platform/window_program_roles.h"
#include "viewer/corvin_app.h"
#include "viewer/corvin_resource_table.h"

int main(int argc, char** argv) {
  if (argc == 2) {
    const std::string_view argument(argv[1]);
    if (argument == "--version") {
      std::fputs(quillon::platform::VersionLine("corvin").c_str(), stdout);
      return 0;
    }
    if (argument == "--help" || argument == "-h" || argument == "/?") {
      std::fputs(
          "usage: corvin\n"
          "Shows the baud rate that the device's built-in Bluetooth transport is set to; \"Get baud rate\"\n"
          "reads it again. --help, -h and /? print these lines, --version the version.\n",
          stdout);
      return 0;
    }
  }
  if (argc > 1) {
    std::fprintf(stderr, "corvin: takes no arguments (see corvin --help)\n");
    return 2;
  }
  std::string problem;
  const auto roles = quillon::platform::CreateWindowProgramRoles(quillon::viewer::CorvinResources(), &problem);
  if (roles == nullptr) {
    std::fprintf(stderr, "corvin: %s\n", problem.c_str());
    return 2;
  }
  return quillon::viewer::RunCorvin(roles->dialogs(), roles->registry());
}
