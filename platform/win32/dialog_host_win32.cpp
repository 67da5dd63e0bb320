#include "platform/win32/dialog_host_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <string>

namespace quillon::platform::win32 {

class Win32DialogHost::Window final : public DialogWindow {
 public:
  Window(DialogProcedure& owner, bool isModal) : procedure(owner), modal(isModal) {}

  void Show() override { ShowWindow(Handle(), SW_SHOW); }
  void SetIcon(int iconId) override {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    const auto icon = [&](int size) {
      return reinterpret_cast<LPARAM>(
          LoadImageW(instance, MAKEINTRESOURCEW(iconId), IMAGE_ICON, size, size, LR_SHARED));
    };
    SendMessageW(Handle(), WM_SETICON, ICON_BIG, icon(GetSystemMetrics(SM_CXICON)));
    SendMessageW(Handle(), WM_SETICON, ICON_SMALL, icon(GetSystemMetrics(SM_CXSMICON)));
  }
  void SetControlText(int id, std::wstring_view text) override {
    SetDlgItemTextW(Handle(), id, std::wstring(text).c_str());
  }
  std::size_t ControlText(int id, std::span<wchar_t> text) override {
    if (text.empty()) return 0;
    text[0] = L'\0';
    const UINT length = GetDlgItemTextW(Handle(), id, text.data(),
                                        static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX)));
    return length;
  }
  void SetControlUnsigned(int id, std::uint32_t value) override { SetDlgItemInt(Handle(), id, value, FALSE); }
  void AddListItem(int id, std::wstring_view text) override {
    const std::wstring item(text);
    SendDlgItemMessageW(Handle(), id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
  }
  bool SelectListItem(int id, std::wstring_view prefix) override {
    const std::wstring wanted(prefix);
    const LRESULT current = SendDlgItemMessageW(Handle(), id, CB_GETCURSEL, 0, 0);
    return SendDlgItemMessageW(Handle(), id, CB_SELECTSTRING, static_cast<WPARAM>(current),
                               reinterpret_cast<LPARAM>(wanted.c_str())) != CB_ERR;
  }
  MessageBoxAnswer ShowMessageBox(std::wstring_view text, std::wstring_view caption, MessageBoxButtons buttons,
                                  MessageBoxIcon icon) override {
    UINT style = buttons == MessageBoxButtons::kYesNo ? MB_YESNO : MB_OK;
    if (icon == MessageBoxIcon::kError) style |= MB_ICONERROR;
    if (icon == MessageBoxIcon::kQuestion) style |= MB_ICONQUESTION;
    switch (::MessageBoxW(Handle(), std::wstring(text).c_str(), std::wstring(caption).c_str(), style)) {
      case IDOK:
        return MessageBoxAnswer::kOk;
      case IDYES:
        return MessageBoxAnswer::kYes;
      case IDNO:
        return MessageBoxAnswer::kNo;
      default:
        return MessageBoxAnswer::kFailed;
    }
  }
  bool Post(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) override {
    HWND window = Handle();
    return window != nullptr && PostMessageW(window, message, wParam, static_cast<LPARAM>(lParam)) != FALSE;
  }
  void End(int result) override { EndDialog(Handle(), result); }
  void Destroy() override { DestroyWindow(Handle()); }
  void PostQuit(int exitCode) override { PostQuitMessage(exitCode); }

  HWND Handle() const { return window_.load(); }
  void Attach(HWND window) { window_.store(window); }

  DialogProcedure& procedure;
  const bool modal;

 private:
  std::atomic<HWND> window_{nullptr};  // read by posting threads, cleared when the window goes
};

namespace {

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  using Window = Win32DialogHost::Window;
  if (message == WM_INITDIALOG) {
    auto* window = reinterpret_cast<Window*>(lParam);
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    window->Attach(dialog);
    window->procedure.OnInitDialog(*window);
    return TRUE;  // the first control that takes the keyboard gets it
  }
  auto* window = reinterpret_cast<Window*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (window == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (window->procedure.OnCommand(*window, id)) return TRUE;
      if (window->modal && (id == IDOK || id == IDCANCEL)) {
        EndDialog(dialog, id);
        return TRUE;
      }
      return FALSE;
    }
    case WM_CLOSE:
      // Unhandled, the dialog manager turns it into the cancel command.
      return window->procedure.OnClose(*window) ? TRUE : FALSE;
    case WM_NCDESTROY:
      window->Attach(nullptr);
      return FALSE;
    default:
      if (message < WM_USER) return FALSE;
      return window->procedure.OnMessage(*window, message, static_cast<std::uint32_t>(wParam),
                                         static_cast<std::uint32_t>(lParam))
                 ? TRUE
                 : FALSE;
  }
}

}  // namespace

Win32DialogHost::Win32DialogHost(HINSTANCE instance) : instance_(instance) {}

Win32DialogHost::~Win32DialogHost() {
  for (const auto& window : windows_) {
    if (window->Handle() != nullptr) DestroyWindow(window->Handle());
  }
}

void Win32DialogHost::InitCommonControls() {
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
}

std::size_t Win32DialogHost::LoadResourceString(int id, std::span<wchar_t> text) {
  if (text.empty()) return 0;
  text[0] = L'\0';
  const int length = ::LoadStringW(instance_, static_cast<UINT>(id), text.data(),
                                   static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX)));
  return length > 0 ? static_cast<std::size_t>(length) : 0;
}

bool Win32DialogHost::FindAndActivate(std::wstring_view className) {
  HWND running = FindWindowW(std::wstring(className).c_str(), nullptr);
  if (running == nullptr) return false;
  if (IsIconic(running)) ShowWindow(running, SW_RESTORE);
  // The window and what it owns: a message box open over it comes first.
  SetForegroundWindow(GetLastActivePopup(running));
  return true;
}

ErrorCode Win32DialogHost::RegisterWindowClass(const WindowClass& windowClass) {
  const std::wstring name(windowClass.name);
  WNDCLASSW description{};
  description.style = windowClass.redrawOnResize ? CS_HREDRAW | CS_VREDRAW : 0;
  description.lpfnWndProc = DefDlgProcW;  // the dialog manager; it calls the dialog's procedure
  description.cbWndExtra = DLGWINDOWEXTRA;
  description.hInstance = instance_;
  description.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(windowClass.iconId));
  description.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  description.hbrBackground = static_cast<HBRUSH>(
      GetStockObject(windowClass.whiteBackground ? WHITE_BRUSH : LTGRAY_BRUSH));
  description.lpszClassName = name.c_str();
  return RegisterClassW(&description) != 0 ? kSuccess : LastError();
}

DialogWindow* Win32DialogHost::CreateModeless(int templateId, DialogProcedure& procedure) {
  auto window = std::make_unique<Window>(procedure, false);
  if (CreateDialogParamW(instance_, MAKEINTRESOURCEW(templateId), nullptr, DialogProc,
                         reinterpret_cast<LPARAM>(window.get())) == nullptr) {
    return nullptr;
  }
  windows_.push_back(std::move(window));
  return windows_.back().get();
}

int Win32DialogHost::RunMessageLoop() {
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    // Tab, Enter and Esc move through and press the dialog's controls, as in a modal dialog.
    HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    if (root != nullptr && IsDialogMessageW(root, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

int Win32DialogHost::RunModal(int templateId, DialogProcedure& procedure) {
  // Kept until the host ends, as a modeless one: another thread may still post to it.
  windows_.push_back(std::make_unique<Window>(procedure, true));
  const INT_PTR result = DialogBoxParamW(instance_, MAKEINTRESOURCEW(templateId), nullptr, DialogProc,
                                         reinterpret_cast<LPARAM>(windows_.back().get()));
  return static_cast<int>(result);
}

}  // namespace quillon::platform::win32
