#include "ui/quillon_app.h"

#include "ui/quillon_resources.h"

namespace quillon::ui {

bool QuillonApp::InitInstance(std::wstring_view commandLine) {
  host_.InitCommonControls();
  dialog_.Record().m_commandLine = std::wstring(commandLine);
  (void)host_.RunModal(QUILLON_DIALOG, dialog_);
  return false;
}

}  // namespace quillon::ui
