// A window program on Windows: the real registry and the system's dialogs from the program's own
// resources (the resource script is linked into the program; the C++ description is not needed).
#include "platform/win32/dialog_host_win32.h"
#include "platform/win32/registry_win32.h"
#include "platform/window_program_roles.h"

namespace quillon::platform {
namespace {

class Win32WindowProgramRoles final : public WindowProgramRoles {
 public:
  Registry& registry() override { return registry_; }
  DialogHost& dialogs() override { return dialogs_; }

 private:
  win32::Win32Registry registry_;
  win32::Win32DialogHost dialogs_{GetModuleHandleW(nullptr)};
};

}  // namespace

std::unique_ptr<WindowProgramRoles> CreateWindowProgramRoles(const DialogResources& /*resources*/,
                                                             std::string* /*problem*/) {
  return std::make_unique<Win32WindowProgramRoles>();
}

}  // namespace quillon::platform
