// The C++ reading of a dialog description's macro entries (the resource script reads the same
// entries through win32/dialog_entries.rc.h):
//
//   #define MY_CONTROLS(CONTROL) CONTROL(DefaultButton, 1, "OK", 10, 10, 50, 14) ...
//   constexpr ControlTemplate kControls[] = {MY_CONTROLS(QUILLON_CONTROL_ENTRY)};
//
// The kind is a ControlKind without its "k"; texts are plain string literals, made wide here.
#pragma once

#include "platform/dialog_template.h"

#define QUILLON_CONTROL_ENTRY(kind, id, text, x, y, width, height) \
  ::quillon::platform::ControlTemplate{::quillon::platform::ControlKind::k##kind, id, L"" text, x, y, width, height},

#define QUILLON_STRING_ENTRY(id, text) ::quillon::platform::StringResource{id, L"" text},
