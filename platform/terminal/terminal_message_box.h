// A message box in the terminal: a framed box over the dialog with its caption, its text broken
// into lines and its buttons. Tab or the arrows move between the buttons, Enter or Space presses
// the chosen one, Y and N answer a Yes/No box, Esc answers No (or OK).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dialog_host.h"
#include "platform/terminal/terminal_canvas.h"

namespace quillon::platform::terminal {

class TerminalMessageBox {
 public:
  TerminalMessageBox(std::wstring_view text, std::wstring_view caption, MessageBoxButtons buttons, MessageBoxIcon icon);

  // The answer a key gives, if any.
  std::optional<MessageBoxAnswer> HandleKey(const Key& key);
  // Whether the box fits a screen of that size whole.
  bool Fits(int screenRows, int screenColumns) const;
  // Draws the box centred on the canvas, or what size it needs when it does not fit.
  void Draw(TerminalCanvas& canvas) const;

 private:
  struct Layout {
    std::vector<std::wstring> lines;
    int rows = 0;
    int columns = 0;
  };
  Layout Arrange(int screenColumns) const;

  std::wstring text_;
  std::wstring caption_;
  std::vector<MessageBoxAnswer> answers_;
  std::size_t chosen_ = 0;
};

}  // namespace quillon::platform::terminal
