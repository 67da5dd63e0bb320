// A window program on Linux: the emulated device's registry and the terminal dialog host.
#include "platform/posix/device_root.h"
#include "platform/posix/messages_posix.h"
#include "platform/posix/registry_file.h"
#include "platform/posix/terminal_host.h"
#include "platform/posix/terminal_type.h"
#include "platform/window_program_roles.h"

namespace quillon::platform {
namespace {

class PosixWindowProgramRoles final : public WindowProgramRoles {
 public:
  PosixWindowProgramRoles(posix::DeviceRoot root, const DialogResources& resources)
      : root_(std::move(root)),
        registry_(root_),
        messages_(root_.ObjectPrefix()),
        dialogs_(resources, root_.ObjectPrefix(), messages_) {}
  Registry& registry() override { return registry_; }
  DialogHost& dialogs() override { return dialogs_; }

 private:
  posix::DeviceRoot root_;
  posix::RegistryFile registry_;
  posix::PosixWindowMessages messages_;
  posix::TerminalDialogHost dialogs_;
};

}  // namespace

std::unique_ptr<WindowProgramRoles> CreateWindowProgramRoles(const DialogResources& resources, std::string* problem) {
  posix::DeviceRoot root = posix::DeviceRoot::FromEnvironment();
  if (root.Ensure() != kSuccess) {
    *problem = "the device root " + root.Path() + " does not exist";
    return nullptr;
  }
  if (!posix::TerminalDialogHost::HasTerminal()) {
    *problem = "the dialog needs a terminal on standard input and output";
    return nullptr;
  }
  if (std::string type = posix::TerminalTypeProblem(); !type.empty()) {
    *problem = "the dialog cannot be drawn: " + type;
    return nullptr;
  }
  return std::make_unique<PosixWindowProgramRoles>(std::move(root), resources);
}

}  // namespace quillon::platform
