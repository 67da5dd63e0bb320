#include "viewer/corvin_app.h"

#include <string_view>

#include "viewer/corvin_resources.h"

namespace quillon::viewer {

bool CorvinApp::StartUp() {
  host_.InitCommonControls();
  wchar_t title[kMaxResourceString + 1] = {};
  wchar_t className[kMaxResourceString + 1] = {};
  host_.LoadResourceString(CORVIN_TITLE_STRING, title);
  const std::size_t classLength = host_.LoadResourceString(CORVIN_CLASS_STRING, className);
  const std::wstring_view windowClass(className, classLength);

  // The dialog is made of the class loaded here (its template names it) and keeps the template's
  // title, so a running viewer is found by its class alone.
  if (host_.FindAndActivate(windowClass)) return false;
  if (host_.RegisterWindowClass({windowClass, CORVIN_ICON, true, true}) != platform::kSuccess) return false;
  window_ = host_.CreateModeless(CORVIN_DIALOG, dialog_);
  if (window_ == nullptr) return false;
  window_->Show();
  return true;
}

int RunCorvin(platform::DialogHost& host, platform::Registry& registry) {
  CorvinApp app(host, registry);
  if (!app.StartUp()) return 0;
  return app.MessageLoop();
}

}  // namespace quillon::viewer
