// What the terminal dialogs draw on and the keys they understand: the screen in character cells.
// The ncurses front end implements the canvas; tests draw into a grid of characters.
#pragma once

#include <string_view>

namespace quillon::platform::terminal {

// The cells a character takes on a terminal: two for the East Asian wide and full-width ones, none
// for combining marks and other zero-width characters, one for the rest.
int CellWidth(wchar_t c);
// The cells a text takes.
int CellWidth(std::wstring_view text);
// The longest start of `text` that takes at most `columns` cells.
std::wstring_view CutToCells(std::wstring_view text, int columns);

enum class CellStyle {
  kNormal,
  kFocused,  // the control that has the keyboard
  kField,    // an edit field or a list's box
  kFocusedField,
};

class TerminalCanvas {
 public:
  virtual ~TerminalCanvas() = default;
  virtual int Rows() const = 0;
  virtual int Columns() const = 0;
  // Text at (row, column), cut at the screen's edge by cells; nothing outside the screen.
  virtual void Put(int row, int column, std::wstring_view text, CellStyle style) = 0;
  // Fills the rectangle with blanks and draws a frame around its edge.
  virtual void Frame(int row, int column, int rows, int columns) = 0;
  // Where the terminal's cursor shows; a negative row hides it.
  virtual void PlaceCursor(int row, int column) = 0;
};

enum class KeyCode {
  kNone,
  kCharacter,  // a printable character in Key::character
  kTab,
  kBackTab,
  kEnter,
  kEscape,
  kLeft,
  kRight,
  kUp,
  kDown,
  kHome,
  kEnd,
  kBackspace,
  kDelete,
};

struct Key {
  KeyCode code = KeyCode::kNone;
  wchar_t character = 0;
};

inline Key Character(wchar_t c) { return Key{KeyCode::kCharacter, c}; }
inline Key Press(KeyCode code) { return Key{code, 0}; }

// While a dialog or a message box does not fit the terminal, the user cannot see what a key would
// press or edit: only Esc acts then (Ctrl-C arrives as a signal and acts as well).
inline bool ActsUnseen(const Key& key) { return key.code == KeyCode::kEscape; }

}  // namespace quillon::platform::terminal
