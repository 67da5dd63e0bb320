// Drives quillon.exe's dialog from outside, as a user would, for the tests under Wine. The dialog
// is the window titled "Quillon"; message boxes are found by their captions.
//   quillon_driver wait                     waits (20 s at most) until the dialog exists
//   quillon_driver text ID                  prints control ID's text
//   quillon_driver expect ID TEXT [SECONDS] waits (10 s) until control ID shows TEXT; else prints it, status 1
//   quillon_driver type ID TEXT             sets control ID's text, as typing would
//   quillon_driver press ID                 clicks button ID (does not wait: the click may open a box)
//   quillon_driver box CAPTION yes|no|ok    waits (10 s) for the message box, prints its text, answers it
//   quillon_driver list ID                  prints the drop-down list's items, one a line
//   quillon_driver close                    asks the dialog to close, as its close box does
//   quillon_driver gone                     waits (20 s) until the dialog has ended
// Exit status 0 on success, 1 when the window, control or box is not there.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kDialogClass[] = L"#32770";

HWND WaitForWindow(const wchar_t* title, bool present, int seconds) {
  for (int attempt = 0; attempt < seconds * 20; ++attempt) {
    HWND window = FindWindowW(kDialogClass, title);
    if ((window != nullptr) == present) return window;
    Sleep(50);
  }
  return present ? nullptr : FindWindowW(kDialogClass, title);
}

std::wstring TextOf(HWND control) {
  wchar_t text[1024] = {};
  SendMessageW(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
  return text;
}

void PrintLine(const std::wstring& text) {
  // UTF-8 on standard output, for the shell script that reads it.
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  std::printf("%s\n", bytes.c_str());
}

int AnswerBox(const wchar_t* caption, const std::wstring& answer) {
  HWND box = WaitForWindow(caption, true, 10);
  if (box == nullptr) {
    std::fprintf(stderr, "quillon_driver: no message box with that caption\n");
    return 1;
  }
  // The box's text is its static control 0xFFFF.
  PrintLine(TextOf(GetDlgItem(box, 0xFFFF)));
  const int button = answer == L"yes" ? IDYES : answer == L"no" ? IDNO : IDOK;
  HWND control = GetDlgItem(box, button);
  if (control == nullptr) {
    std::fprintf(stderr, "quillon_driver: the box has no such button\n");
    return 1;
  }
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(control));
  return WaitForWindow(caption, false, 10) == nullptr ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: quillon_driver wait|text|expect|type|press|box|list|gone ...\n");
    return 2;
  }
  const std::wstring command = argv[1];
  if (command == L"gone") return WaitForWindow(L"Quillon", false, 20) == nullptr ? 0 : 1;
  if (command == L"box" && argc >= 4) return AnswerBox(argv[2], argv[3]);
  HWND dialog = WaitForWindow(L"Quillon", true, 20);
  if (dialog == nullptr) {
    std::fprintf(stderr, "quillon_driver: no Quillon dialog\n");
    return 1;
  }
  if (command == L"wait") return 0;
  if (command == L"close") return PostMessageW(dialog, WM_CLOSE, 0, 0) != FALSE ? 0 : 1;
  if (argc < 3) return 2;
  const int id = _wtoi(argv[2]);
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) {
    std::fprintf(stderr, "quillon_driver: no control %d\n", id);
    return 1;
  }
  if (command == L"text") {
    PrintLine(TextOf(control));
    return 0;
  }
  if (command == L"expect" && argc >= 4) {
    const int seconds = argc >= 5 ? _wtoi(argv[4]) : 10;
    for (int attempt = 0; attempt < seconds * 20; ++attempt) {
      if (TextOf(control) == argv[3]) return 0;
      Sleep(50);
    }
    PrintLine(TextOf(control));
    return 1;
  }
  if (command == L"type" && argc >= 4) {
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
    return 0;
  }
  if (command == L"press") {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
    return 0;
  }
  if (command == L"list") {
    const LRESULT count = SendMessageW(control, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      wchar_t item[512] = {};
      if (SendMessageW(control, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) >= 512) continue;
      SendMessageW(control, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
      PrintLine(item);
    }
    return 0;
  }
  return 2;
}
