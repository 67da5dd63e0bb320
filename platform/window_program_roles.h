// The back end's roles for a program with a window: the registry and the dialog host, built once
// by the program's main and passed on by reference.
#pragma once

#include <memory>
#include <string>

#include "platform/dialog_host.h"
#include "platform/dialog_template.h"
#include "platform/registry.h"

namespace quillon::platform {

class WindowProgramRoles {
 public:
  virtual ~WindowProgramRoles() = default;
  virtual Registry& registry() = 0;
  virtual DialogHost& dialogs() = 0;
};

// Null, with the reason in *problem, when the program cannot show a window here (on Linux: no
// device root, or no terminal). `resources` must outlive the roles.
std::unique_ptr<WindowProgramRoles> CreateWindowProgramRoles(const DialogResources& resources, std::string* problem);

}  // namespace quillon::platform
