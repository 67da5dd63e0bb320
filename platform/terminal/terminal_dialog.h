// A dialog drawn in a terminal: the template's controls in the same places, dialog units mapped
// to character cells (a quarter of a cell across, an eighth of a cell down), operated from the
// keyboard as a Windows dialog is: Tab and Shift-Tab move between the buttons, fields and lists,
// arrows choose in a list, Enter presses the focused button (else the default button, or the
// dialog's only button), Space presses the focused button, Esc is the cancel command. A terminal
// too small for the dialog shows what size it needs instead.
//
// The dialog holds its controls' state only; the front end draws it and sends its commands.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dialog_template.h"
#include "platform/terminal/terminal_canvas.h"

namespace quillon::platform::terminal {

// The most characters an edit field holds, as the system's text buffers of 260 characters.
inline constexpr std::size_t kMaxFieldLength = 259;

struct CellRect {
  int row = 0;
  int column = 0;
  int rows = 0;
  int columns = 0;
};

// Cells of a rectangle in dialog units, relative to the dialog's client area. Rounded at both
// ends, so that controls side by side in dialog units never share a cell.
CellRect ToCells(int x, int y, int width, int height);

// Breaks `text` into lines of at most `width` cells, at blanks where it can.
std::vector<std::wstring> WrapText(std::wstring_view text, int width, int maxLines);

// Says over the whole canvas that `what` needs `rows` x `columns` cells, as much as fits.
void DrawTooSmall(TerminalCanvas& canvas, std::wstring_view what, int rows, int columns);

class TerminalDialog {
 public:
  explicit TerminalDialog(const DialogTemplate& dialogTemplate);

  const DialogTemplate& Template() const { return template_; }
  bool HasControl(int id) const { return Find(id) != nullptr; }
  void SetText(int id, std::wstring_view text);
  std::wstring_view Text(int id) const;
  void AddItem(int id, std::wstring_view text);
  bool SelectItem(int id, std::wstring_view prefix);
  // The id of the control with the keyboard, kNoControlId when none can have it.
  int FocusedId() const;

  // The command a key gives, if any.
  std::optional<int> HandleKey(const Key& key);

  // The frame's size in cells, title and border included.
  int FrameRows() const;
  int FrameColumns() const;
  bool Fits(int screenRows, int screenColumns) const {
    return screenRows >= FrameRows() && screenColumns >= FrameColumns();
  }
  // Draws the dialog centred on the canvas.
  void Draw(TerminalCanvas& canvas) const;

 private:
  struct Control {
    const ControlTemplate* source;
    CellRect cells;
    std::wstring text;
    std::vector<std::wstring> items;  // a list's items, sorted
    int selected = -1;
    std::size_t cursor = 0;  // an edit field's caret
    std::size_t scroll = 0;  // an edit field's first shown character
    CellRect room{};         // a label's cells and the free ones beside and below it
  };
  Control* Find(int id);
  const Control* Find(int id) const;
  static bool TakesFocus(const Control& control);
  static bool IsButton(const Control& control);
  const Control* OnlyButton() const;
  bool CellTaken(const Control& except, int row, int column) const;
  void GiveLabelRoom(Control& label);
  void MoveFocus(int step);
  bool EditKey(Control& field, const Key& key);
  static void KeepCaretVisible(Control& field);
  void DrawControl(TerminalCanvas& canvas, const Control& control, int top, int left, bool focused) const;

  const DialogTemplate& template_;
  std::vector<Control> controls_;
  int focus_ = -1;  // index into controls_
};

}  // namespace quillon::platform::terminal
