#include "platform/posix/curses_screen.h"

#define NCURSES_WIDECHAR 1
#include <ncursesw/curses.h>

#include <string>

namespace quillon::platform::posix {
namespace {

using terminal::CellStyle;
using terminal::Key;
using terminal::KeyCode;

attr_t Attributes(CellStyle style) {
  switch (style) {
    case CellStyle::kFocused:
      return A_REVERSE;
    case CellStyle::kField:
      return A_UNDERLINE;
    case CellStyle::kFocusedField:
      return A_UNDERLINE | A_BOLD;
    default:
      return A_NORMAL;
  }
}

}  // namespace

int CursesCanvas::Rows() const { return LINES; }
int CursesCanvas::Columns() const { return COLS; }

void CursesCanvas::Put(int row, int column, std::wstring_view text, CellStyle style) {
  if (row < 0 || row >= LINES || column >= COLS) return;
  while (column < 0 && !text.empty()) {
    column += terminal::CellWidth(text.front());
    text.remove_prefix(1);
  }
  if (column < 0 || text.empty()) return;
  // Cut by cells: ncurses would carry a text longer than the line over to the next one.
  const std::wstring cut(terminal::CutToCells(text, COLS - column));
  attrset(Attributes(style));
  mvaddnwstr(row, column, cut.c_str(), static_cast<int>(cut.size()));
  attrset(A_NORMAL);
}

void CursesCanvas::Frame(int row, int column, int rows, int columns) {
  if (rows < 2 || columns < 2) return;
  for (int r = row; r < row + rows; ++r)
    Put(r, column, std::wstring(static_cast<std::size_t>(columns), L' '), CellStyle::kNormal);
  mvhline(row, column + 1, ACS_HLINE, columns - 2);
  mvhline(row + rows - 1, column + 1, ACS_HLINE, columns - 2);
  mvvline(row + 1, column, ACS_VLINE, rows - 2);
  mvvline(row + 1, column + columns - 1, ACS_VLINE, rows - 2);
  mvaddch(row, column, ACS_ULCORNER);
  mvaddch(row, column + columns - 1, ACS_URCORNER);
  mvaddch(row + rows - 1, column, ACS_LLCORNER);
  mvaddch(row + rows - 1, column + columns - 1, ACS_LRCORNER);
}

void CursesCanvas::PlaceCursor(int row, int column) {
  cursorRow_ = row;
  cursorColumn_ = column;
}

void CursesCanvas::Finish() {
  if (cursorRow_ >= 0) {
    curs_set(1);
    move(cursorRow_, cursorColumn_);
  } else {
    curs_set(0);
  }
}

Key ReadKey() {
  wint_t input = 0;
  const int kind = get_wch(&input);
  if (kind == ERR) return {};
  if (kind == KEY_CODE_YES) {
    switch (input) {
      case KEY_BTAB:
        return terminal::Press(KeyCode::kBackTab);
      case KEY_ENTER:
        return terminal::Press(KeyCode::kEnter);
      case KEY_LEFT:
        return terminal::Press(KeyCode::kLeft);
      case KEY_RIGHT:
        return terminal::Press(KeyCode::kRight);
      case KEY_UP:
        return terminal::Press(KeyCode::kUp);
      case KEY_DOWN:
        return terminal::Press(KeyCode::kDown);
      case KEY_HOME:
        return terminal::Press(KeyCode::kHome);
      case KEY_END:
        return terminal::Press(KeyCode::kEnd);
      case KEY_BACKSPACE:
        return terminal::Press(KeyCode::kBackspace);
      case KEY_DC:
        return terminal::Press(KeyCode::kDelete);
      default:
        return {};  // KEY_RESIZE among others: the next round redraws
    }
  }
  switch (input) {
    case L'\t':
      return terminal::Press(KeyCode::kTab);
    case L'\n':
    case L'\r':
      return terminal::Press(KeyCode::kEnter);
    case 27:
      return terminal::Press(KeyCode::kEscape);
    case 8:
    case 127:
      return terminal::Press(KeyCode::kBackspace);
    default:
      break;
  }
  if (input < 32) return {};
  return terminal::Character(static_cast<wchar_t>(input));
}

}  // namespace quillon::platform::posix
