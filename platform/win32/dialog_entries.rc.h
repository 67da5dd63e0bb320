// The resource compiler's reading of a dialog description's macro entries (platform/dialog_entries.h
// is the C++ reading), with the system's names of the styles. Include it first in a resource script.
#pragma once

#include <windows.h>

#define QUILLON_CONTROL_ENTRY(kind, id, text, x, y, width, height) QUILLON_RC_##kind(id, text, x, y, width, height)

#define QUILLON_RC_DefaultButton(id, text, x, y, width, height) \
  CONTROL text, id, "Button", BS_DEFPUSHBUTTON | WS_TABSTOP, x, y, width, height
#define QUILLON_RC_Button(id, text, x, y, width, height) \
  CONTROL text, id, "Button", BS_PUSHBUTTON | WS_TABSTOP, x, y, width, height
#define QUILLON_RC_Label(id, text, x, y, width, height) CONTROL text, id, "Static", SS_LEFT, x, y, width, height
#define QUILLON_RC_Edit(id, text, x, y, width, height) \
  CONTROL text, id, "Edit", ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, x, y, width, height
#define QUILLON_RC_DropList(id, text, x, y, width, height) \
  CONTROL text, id, "ComboBox", CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP, x, y, width, height

#define QUILLON_STRING_ENTRY(id, text) id, text
