// A dialog described once: its controls with their ids, texts and positions in dialog units, and
// the program's string table.
//
// The description is written as a list of macro entries in a header that both the C++ code and
// the Windows resource script include (see dialog_entries.h and win32/dialog_entries.rc.h), so
// that the Windows dialog built from the resource script and the terminal dialog that draws the
// same controls can never drift apart.
#pragma once

#include <span>
#include <string_view>

namespace quillon::platform {

// Each kind carries a fixed set of Windows styles (win32/dialog_entries.rc.h says which).
enum class ControlKind {
  kDefaultButton,  // push button that Enter presses when no other button has the focus
  kButton,         // push button
  kLabel,          // static text, left aligned, not a tab stop
  kEdit,           // single-line edit with border and horizontal auto-scroll
  kDropList,       // drop-down list, not editable, sorted, vertical scroll bar
};

inline constexpr int kNoControlId = -1;

struct ControlTemplate {
  ControlKind kind;
  int id;  // kNoControlId for a label nobody addresses
  std::wstring_view text;
  int x, y, width, height;  // dialog units: a quarter of a character's width, an eighth of its height
};

struct DialogTemplate {
  int id;
  std::wstring_view title;
  std::wstring_view className;  // empty: the platform's own dialog class
  int width, height;            // dialog units
  std::wstring_view font;
  int fontPoints;
  std::span<const ControlTemplate> controls;
};

struct StringResource {
  int id;
  std::wstring_view text;
};

// Everything a program's resources hold that the front ends need.
struct DialogResources {
  std::span<const DialogTemplate> dialogs;
  std::span<const StringResource> strings;
  int iconId = 0;

  const DialogTemplate* FindDialog(int id) const {
    for (const DialogTemplate& dialog : dialogs) {
      if (dialog.id == id) return &dialog;
    }
    return nullptr;
  }
  const StringResource* FindString(int id) const {
    for (const StringResource& string : strings) {
      if (string.id == id) return &string;
    }
    return nullptr;
  }
};

}  // namespace quillon::platform
