// corvin: shows the baud rate that the device's built-in Bluetooth transport is configured for.
#include <cstdio>
#include <string>

#include "platform/window_program_roles.h"
#include "viewer/corvin_app.h"
#include "viewer/corvin_resource_table.h"

int main() {
  std::string problem;
  const auto roles = quillon::platform::CreateWindowProgramRoles(quillon::viewer::CorvinResources(), &problem);
  if (roles == nullptr) {
    std::fprintf(stderr, "corvin: %s\n", problem.c_str());
    return 2;
  }
  return quillon::viewer::RunCorvin(roles->dialogs(), roles->registry());
}
