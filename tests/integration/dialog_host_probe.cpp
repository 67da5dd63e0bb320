// A modal dialog with every kind of control on the platform's dialog host, for the terminal
// front end's test in tmux (dialog_host_terminal.sh): a thread posts messages that change the
// status line, the button asks a Yes/No question, Esc ends the dialog. Prints "ended N" after.
#include <cstdio>
#include <string>
#include <thread>

#include "platform/dialog_entries.h"
#include "platform/window_program_roles.h"

namespace {

using namespace quillon::platform;

constexpr int kStatus = 1000;
constexpr int kPort = 1001;
constexpr int kList = 1002;
constexpr int kButton = 1003;
constexpr std::uint32_t kUpdate = 0x600;

#define PROBE_CONTROLS(CONTROL)                                  \
  CONTROL(Label, kStatus, "Static", 9, 71, 140, 18)              \
  CONTROL(Label, -1, "Bluetooth Module COM Port:", 7, 10, 92, 8) \
  CONTROL(Edit, kPort, "", 104, 7, 40, 14)                       \
  CONTROL(Label, -1, "PSR File:", 7, 30, 34, 8)                  \
  CONTROL(Button, kButton, "Start", 55, 46, 50, 14)              \
  CONTROL(DropList, kList, "", 48, 27, 97, 59)
constexpr ControlTemplate kControls[] = {PROBE_CONTROLS(QUILLON_CONTROL_ENTRY)};
constexpr DialogTemplate kDialogs[] = {{102, L"Quillon", L"", 156, 102, L"MS Shell Dlg", 8, kControls}};
const DialogResources kResources{kDialogs, {}, 0};

class ProbeDialog final : public DialogProcedure {
 public:
  ~ProbeDialog() override {
    if (poster_.joinable()) poster_.join();
  }
  void OnInitDialog(DialogWindow& window) override {
    window.SetControlText(kPort, L"COM4:");
    for (const wchar_t* name : {L"b.psr", L"a.psr", L"c.psr"}) window.AddListItem(kList, name);
    window.SelectListItem(kList, L"a");
    poster_ = std::thread([&window] {
      for (std::uint32_t n = 1; n <= 3; ++n) window.Post(kUpdate, n, 0);
    });
  }
  bool OnCommand(DialogWindow& window, int id) override {
    if (id != kButton) return false;
    const MessageBoxAnswer answer = window.ShowMessageBox(L"Are you sure to stop?", L"Please confirm",
                                                          MessageBoxButtons::kYesNo, MessageBoxIcon::kNone);
    window.SetControlText(kStatus, answer == MessageBoxAnswer::kYes ? L"answer: yes" : L"answer: no");
    return true;
  }
  bool OnMessage(DialogWindow& window, std::uint32_t message, std::uint32_t wParam, std::uint32_t) override {
    if (message != kUpdate) return false;
    wchar_t port[8] = {};
    window.ControlText(kPort, port);
    window.SetControlText(kStatus, L"update " + std::to_wstring(wParam) + L" " + port);
    return true;
  }

 private:
  std::thread poster_;
};

}  // namespace

int main() {
  std::string problem;
  const auto roles = CreateWindowProgramRoles(kResources, &problem);
  if (roles == nullptr) {
    std::fprintf(stderr, "dialog_host_probe: %s\n", problem.c_str());
    return 2;
  }
  ProbeDialog dialog;
  const int result = roles->dialogs().RunModal(102, dialog);
  std::printf("ended %d\n", result);
  return 0;
}
