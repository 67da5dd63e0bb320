// The application object: the program's start-up, which runs the dialog until it ends.
#pragma once

#include <string_view>

#include "platform/dialog_host.h"
#include "ui/quillon_dialog.h"

namespace quillon::ui {

class QuillonApp {
 public:
  QuillonApp(platform::DialogHost& host, QuillonDialog& dialog) : host_(host), dialog_(dialog) {}

  // Initialises the shell's controls, hands the command line (without the program's own path) to
  // the dialog and runs it modally until it ends. Returns false: the program then ends, without a
  // message loop of its own. The dialog's result is not looked at.
  bool InitInstance(std::wstring_view commandLine);

 private:
  platform::DialogHost& host_;
  QuillonDialog& dialog_;
};

}  // namespace quillon::ui
