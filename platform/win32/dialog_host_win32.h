// The dialog host on Windows: dialogs from the program's resource script, shown by the system's
// dialog manager. A registered window class has the dialog manager's window procedure, so that a
// template naming the class makes a real dialog that FindWindow finds by that class.
#pragma once

#include <memory>
#include <vector>

#include "platform/dialog_host.h"
#include "platform/win32/win32_names.h"

namespace quillon::platform::win32 {

class Win32DialogHost final : public DialogHost {
 public:
  explicit Win32DialogHost(HINSTANCE instance);
  ~Win32DialogHost() override;
  Win32DialogHost(const Win32DialogHost&) = delete;
  Win32DialogHost& operator=(const Win32DialogHost&) = delete;

  void InitCommonControls() override;
  std::size_t LoadResourceString(int id, std::span<wchar_t> text) override;
  bool FindAndActivate(std::wstring_view className) override;
  ErrorCode RegisterWindowClass(const WindowClass& windowClass) override;
  DialogWindow* CreateModeless(int templateId, DialogProcedure& procedure) override;
  int RunMessageLoop() override;
  int RunModal(int templateId, DialogProcedure& procedure) override;

  class Window;

 private:
  HINSTANCE instance_;
  std::vector<std::unique_ptr<Window>> windows_;  // kept until the host ends
};

}  // namespace quillon::platform::win32
