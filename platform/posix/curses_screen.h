// The terminal's screen through ncurses: a canvas that draws the terminal dialogs on it, and the
// keys read from it. Valid while the screen is up (between initscr and endwin).
#pragma once

#include <string_view>

#include "platform/terminal/terminal_canvas.h"

namespace quillon::platform::posix {

class CursesCanvas final : public terminal::TerminalCanvas {
 public:
  int Rows() const override;
  int Columns() const override;
  void Put(int row, int column, std::wstring_view text, terminal::CellStyle style) override;
  void Frame(int row, int column, int rows, int columns) override;
  void PlaceCursor(int row, int column) override;
  // Shows the cursor where it was placed (or hides it) once everything is drawn.
  void Finish();

 private:
  int cursorRow_ = -1;
  int cursorColumn_ = -1;
};

// The next key, waiting at most the screen's time-out; KeyCode::kNone when none came (or the
// terminal was resized: the next drawing fits the new size).
terminal::Key ReadKey();

}  // namespace quillon::platform::posix
