// Drives another program's dialog from outside, as a user would, for the tests under Wine:
//   dialog_driver CLASS wait             waits (10 s at most) until a window of the class exists
//   dialog_driver CLASS count            prints how many top-level windows of the class exist
//   dialog_driver CLASS press ID         presses button ID (waits until the press is handled)
//   dialog_driver CLASS text ID          prints control ID's text
//   dialog_driver CLASS type ID TEXT     sets control ID's text, as typing would
//   dialog_driver CLASS title            prints the window's title
//   dialog_driver CLASS gone             waits (10 s at most) until no window of the class exists
// Exit status 0 on success, 1 when the window or control is not there.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

HWND WaitForWindow(const wchar_t* className, bool present) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    HWND window = FindWindowW(className, nullptr);
    if ((window != nullptr) == present) return window;
    Sleep(50);
  }
  return present ? nullptr : FindWindowW(className, nullptr);
}

struct Count {
  const wchar_t* className;
  int found;
};

BOOL CALLBACK CountWindow(HWND window, LPARAM context) {
  auto* count = reinterpret_cast<Count*>(context);
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  if (_wcsicmp(name, count->className) == 0) ++count->found;
  return TRUE;
}

void PrintLine(const std::wstring& text) {
  // UTF-8 on standard output, for the shell script that reads it.
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  std::printf("%s\n", bytes.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: dialog_driver CLASS wait|count|press|text|type|title|gone [ID [TEXT]]\n");
    return 2;
  }
  const wchar_t* className = argv[1];
  const std::wstring command = argv[2];
  if (command == L"count") {
    Count count{className, 0};
    EnumWindows(CountWindow, reinterpret_cast<LPARAM>(&count));
    std::printf("%d\n", count.found);
    return 0;
  }
  if (command == L"gone") return WaitForWindow(className, false) == nullptr ? 0 : 1;
  HWND window = WaitForWindow(className, true);
  if (window == nullptr) {
    std::fprintf(stderr, "dialog_driver: no window of that class\n");
    return 1;
  }
  if (command == L"wait") return 0;
  if (command == L"title") {
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    PrintLine(title);
    return 0;
  }
  if (argc < 4) return 2;
  const int id = _wtoi(argv[3]);
  HWND control = GetDlgItem(window, id);
  if (control == nullptr) {
    std::fprintf(stderr, "dialog_driver: no control %d\n", id);
    return 1;
  }
  if (command == L"press") {
    // What a click sends; SendMessage returns once the dialog has handled it.
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
    return 0;
  }
  if (command == L"text") {
    wchar_t text[512] = {};
    SendMessageW(control, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    PrintLine(text);
    return 0;
  }
  if (command == L"type" && argc >= 5) {
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]));
    return 0;
  }
  return 2;
}
