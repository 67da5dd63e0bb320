#include "platform/win32/messages_win32.h"

#include "platform/win32/win32_names.h"

namespace quillon::platform::win32 {
namespace {

constexpr wchar_t kClassName[] = L"QuillonMessageQueue";

class MessageWindow final : public MessageQueue {
 public:
  explicit MessageWindow(HWND window) : window_(window) {}
  ~MessageWindow() override { DestroyWindow(window_); }
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  std::uint32_t WindowId() const override {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window_));
  }

  bool Wait(std::uint32_t timeoutMs, WindowMessage* message) override {
    const DWORD start = GetTickCount();
    for (;;) {
      MSG taken;
      if (PeekMessageW(&taken, window_, 0, 0, PM_REMOVE)) {
        *message = WindowMessage{taken.message, static_cast<std::uint32_t>(taken.wParam),
                                 static_cast<std::uint32_t>(taken.lParam)};
        return true;
      }
      const DWORD elapsed = GetTickCount() - start;
      if (elapsed >= timeoutMs) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
    }
  }

 private:
  HWND window_;
};

}  // namespace

bool Win32WindowMessages::Post(std::uint32_t window, const WindowMessage& message) {
  if (window == 0) return false;
  return PostMessageW(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window)), message.message, message.wParam,
                      message.lParam) != FALSE;
}

std::unique_ptr<MessageQueue> Win32WindowMessages::CreateQueue(ErrorCode* error) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kClassName;
  RegisterClassW(&windowClass);  // fails harmlessly when already registered
  HWND window = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance,
                                nullptr);
  if (window == nullptr) {
    *error = LastError();
    return nullptr;
  }
  *error = kSuccess;
  return std::make_unique<MessageWindow>(window);
}

}  // namespace quillon::platform::win32
