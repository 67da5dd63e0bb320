#include "platform/terminal/terminal_dialog.h"

#include <algorithm>

#include "platform/dialog_host.h"
#include "platform/text.h"

namespace quillon::platform::terminal {
namespace {

bool StartsWithIgnoringCase(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// A control kind that shows one line whatever its height in dialog units (a list's height holds
// its opened list, which the terminal does not draw).
bool IsSingleLine(ControlKind kind) { return kind != ControlKind::kLabel; }

// A closed drop-down list's height in dialog units.
constexpr int kClosedListHeight = 14;

}  // namespace

int CellWidth(wchar_t c) {
  const auto code = static_cast<char32_t>(c);
  if (code == 0 || (code >= 0x0300 && code <= 0x036F) || (code >= 0x200B && code <= 0x200F) ||
      (code >= 0xFE00 && code <= 0xFE0F))
    return 0;
  struct Range {
    char32_t first, last;
  };
  static constexpr Range kWide[] = {
      {0x1100, 0x115F}, {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},
      {0xA000, 0xA4CF}, {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},
      {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD},
  };
  for (const Range& range : kWide) {
    if (code >= range.first && code <= range.last) return 2;
  }
  return 1;
}

int CellWidth(std::wstring_view text) {
  int cells = 0;
  for (const wchar_t c : text) cells += CellWidth(c);
  return cells;
}

std::wstring_view CutToCells(std::wstring_view text, int columns) {
  int cells = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    cells += CellWidth(text[i]);
    if (cells > columns) return text.substr(0, i);
  }
  return text;
}

CellRect ToCells(int x, int y, int width, int height) {
  CellRect cells;
  cells.column = (x + 2) / 4;
  cells.row = (y + 4) / 8;
  cells.columns = std::max(1, (x + width + 2) / 4 - cells.column);
  cells.rows = std::max(1, (y + height + 4) / 8 - cells.row);
  return cells;
}

std::vector<std::wstring> WrapText(std::wstring_view text, int width, int maxLines) {
  std::vector<std::wstring> lines;
  if (width <= 0) return lines;
  while (!text.empty() && static_cast<int>(lines.size()) < maxLines) {
    const std::size_t newline = text.find(L'\n');
    std::wstring_view line = text.substr(0, newline);
    std::size_t taken = line.size();
    const std::size_t fits = CutToCells(line, width).size();
    if (fits < line.size()) {
      // A blank just past the cells that fit ends the line as well as one inside them.
      const std::size_t blank = line.substr(0, fits + 1).find_last_of(L' ');
      taken = (blank != std::wstring_view::npos && blank > 0) ? blank : std::max<std::size_t>(fits, 1);
      line = line.substr(0, std::min(taken, fits));
    }
    while (!line.empty() && line.back() == L' ') line.remove_suffix(1);
    lines.emplace_back(line);
    text.remove_prefix(taken);
    if (!text.empty() && (text.front() == L' ' || text.front() == L'\n')) text.remove_prefix(1);
  }
  return lines;
}

void DrawTooSmall(TerminalCanvas& canvas, std::wstring_view what, int rows, int columns) {
  const std::wstring text = L"The terminal is too small for " + std::wstring(what) + L": it needs " +
                            std::to_wstring(columns) + L" x " + std::to_wstring(rows) + L" characters, it has " +
                            std::to_wstring(canvas.Columns()) + L" x " + std::to_wstring(canvas.Rows()) + L".";
  const std::vector<std::wstring> lines = WrapText(text, canvas.Columns(), canvas.Rows());
  // Blank lines first: whatever was drawn below (a dialog under a message box) must not show.
  const std::wstring blank(static_cast<std::size_t>(std::max(0, canvas.Columns())), L' ');
  for (int row = 0; row < canvas.Rows(); ++row) {
    const auto line = static_cast<std::size_t>(row);
    canvas.Put(row, 0,
               line < lines.size() ? lines[line] + blank.substr(static_cast<std::size_t>(CellWidth(lines[line])))
                                   : blank,
               CellStyle::kNormal);
  }
  canvas.PlaceCursor(-1, -1);
}

TerminalDialog::TerminalDialog(const DialogTemplate& dialogTemplate) : template_(dialogTemplate) {
  controls_.reserve(dialogTemplate.controls.size());
  for (const ControlTemplate& source : dialogTemplate.controls) {
    Control control{&source,
                    ToCells(source.x, source.y, source.width, source.height),
                    std::wstring(source.text),
                    {},
                    -1,
                    0,
                    0};
    if (IsSingleLine(source.kind)) control.cells.rows = 1;
    if (source.kind == ControlKind::kDropList) {
      // Its height holds the opened list: the closed box stands in the middle of a field's height.
      control.cells.row = (source.y + kClosedListHeight / 2) / 8;
      control.text.clear();
    }
    if (control.text.size() > kMaxFieldLength && source.kind == ControlKind::kEdit)
      control.text.resize(kMaxFieldLength);
    controls_.push_back(std::move(control));
  }
  for (Control& control : controls_) {
    if (control.source->kind == ControlKind::kLabel) GiveLabelRoom(control);
  }
  // As a Windows dialog: the keyboard starts on the first control that takes it.
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    if (TakesFocus(controls_[i])) {
      focus_ = static_cast<int>(i);
      break;
    }
  }
}

bool TerminalDialog::CellTaken(const Control& except, int row, int column) const {
  for (const Control& other : controls_) {
    if (&other == &except) continue;
    const CellRect& cells = other.cells;
    if (row >= cells.row && row < cells.row + cells.rows && column >= cells.column &&
        column < cells.column + cells.columns) {
      return true;
    }
  }
  return false;
}

void TerminalDialog::GiveLabelRoom(Control& label) {
  // A terminal's characters are wider than the dialog font's average: a label may use the free
  // cells to its right and the free rows below it, so that its text is not cut.
  const CellRect client = ToCells(0, 0, template_.width, template_.height);
  label.room = label.cells;
  CellRect& cells = label.room;
  int right = cells.column + cells.columns;
  while (right < client.columns) {
    bool free = true;
    for (int row = cells.row; row < cells.row + cells.rows && free; ++row) free = !CellTaken(label, row, right);
    if (!free) break;
    ++right;
  }
  cells.columns = right - cells.column;
  while (cells.row + cells.rows < client.rows) {
    bool free = true;
    for (int column = cells.column; column < right && free; ++column)
      free = !CellTaken(label, cells.row + cells.rows, column);
    if (!free) break;
    ++cells.rows;
  }
}

TerminalDialog::Control* TerminalDialog::Find(int id) {
  if (id == kNoControlId) return nullptr;
  for (Control& control : controls_) {
    if (control.source->id == id) return &control;
  }
  return nullptr;
}

const TerminalDialog::Control* TerminalDialog::Find(int id) const {
  return const_cast<TerminalDialog*>(this)->Find(id);
}

bool TerminalDialog::TakesFocus(const Control& control) { return control.source->kind != ControlKind::kLabel; }

bool TerminalDialog::IsButton(const Control& control) {
  return control.source->kind == ControlKind::kButton || control.source->kind == ControlKind::kDefaultButton;
}

void TerminalDialog::SetText(int id, std::wstring_view text) {
  Control* control = Find(id);
  if (control == nullptr || control->source->kind == ControlKind::kDropList) return;
  control->text.assign(text.substr(0, control->source->kind == ControlKind::kEdit ? kMaxFieldLength : text.size()));
  control->cursor = control->text.size();
  control->scroll = 0;
  KeepCaretVisible(*control);
}

std::wstring_view TerminalDialog::Text(int id) const {
  const Control* control = Find(id);
  if (control == nullptr) return {};
  if (control->source->kind == ControlKind::kDropList) {
    return control->selected >= 0 ? std::wstring_view(control->items[control->selected]) : std::wstring_view();
  }
  return control->text;
}

void TerminalDialog::AddItem(int id, std::wstring_view text) {
  Control* list = Find(id);
  if (list == nullptr || list->source->kind != ControlKind::kDropList) return;
  // Sorted as the list's style asks; a new item moves the selection with its item.
  const auto place = std::upper_bound(list->items.begin(), list->items.end(), text,
                                      [](std::wstring_view a, const std::wstring& b) {
                                        return CompareIgnoringCase(a, b) < 0;
                                      });
  const int index = static_cast<int>(place - list->items.begin());
  list->items.insert(place, std::wstring(text));
  if (list->selected >= index) ++list->selected;
}

bool TerminalDialog::SelectItem(int id, std::wstring_view prefix) {
  Control* list = Find(id);
  if (list == nullptr || list->source->kind != ControlKind::kDropList || list->items.empty()) return false;
  const int count = static_cast<int>(list->items.size());
  for (int step = 1; step <= count; ++step) {
    const int index = (list->selected + step + count) % count;
    if (StartsWithIgnoringCase(list->items[index], prefix)) {
      list->selected = index;
      return true;
    }
  }
  return false;
}

int TerminalDialog::FocusedId() const { return focus_ >= 0 ? controls_[focus_].source->id : kNoControlId; }

void TerminalDialog::MoveFocus(int step) {
  if (focus_ < 0) return;
  const int count = static_cast<int>(controls_.size());
  for (int i = 1; i <= count; ++i) {
    const int index = ((focus_ + step * i) % count + count) % count;
    if (TakesFocus(controls_[index])) {
      focus_ = index;
      return;
    }
  }
}

void TerminalDialog::KeepCaretVisible(Control& field) {
  // The text before the caret and the caret's own cell fit the field.
  const int width = std::max(1, field.cells.columns - 1);
  if (field.cursor < field.scroll) field.scroll = field.cursor;
  while (field.scroll < field.cursor &&
         CellWidth(std::wstring_view(field.text).substr(field.scroll, field.cursor - field.scroll)) > width)
    ++field.scroll;
}

bool TerminalDialog::EditKey(Control& field, const Key& key) {
  switch (key.code) {
    case KeyCode::kCharacter:
      if (field.text.size() >= kMaxFieldLength || key.character < L' ') return true;
      field.text.insert(field.cursor++, 1, key.character);
      break;
    case KeyCode::kBackspace:
      if (field.cursor > 0) field.text.erase(--field.cursor, 1);
      break;
    case KeyCode::kDelete:
      if (field.cursor < field.text.size()) field.text.erase(field.cursor, 1);
      break;
    case KeyCode::kLeft:
      if (field.cursor > 0) --field.cursor;
      break;
    case KeyCode::kRight:
      if (field.cursor < field.text.size()) ++field.cursor;
      break;
    case KeyCode::kHome:
      field.cursor = 0;
      break;
    case KeyCode::kEnd:
      field.cursor = field.text.size();
      break;
    default:
      return false;
  }
  KeepCaretVisible(field);
  return true;
}

std::optional<int> TerminalDialog::HandleKey(const Key& key) {
  Control* focused = focus_ >= 0 ? &controls_[focus_] : nullptr;
  switch (key.code) {
    case KeyCode::kTab:
      MoveFocus(1);
      return std::nullopt;
    case KeyCode::kBackTab:
      MoveFocus(-1);
      return std::nullopt;
    case KeyCode::kEscape:
      return kCommandCancel;
    case KeyCode::kEnter:
      if (focused != nullptr && IsButton(*focused)) return focused->source->id;
      for (const Control& control : controls_) {
        if (control.source->kind == ControlKind::kDefaultButton) return control.source->id;
      }
      // A dialog with one button and no default one: Enter presses that button, so that a
      // keyboard user never ends the dialog by pressing Enter in a field.
      if (const Control* only = OnlyButton()) return only->source->id;
      return kCommandOk;
    default:
      break;
  }
  if (focused == nullptr) return std::nullopt;
  if (focused->source->kind == ControlKind::kEdit) {
    EditKey(*focused, key);
    return std::nullopt;
  }
  if (IsButton(*focused) && key.code == KeyCode::kCharacter && key.character == L' ') return focused->source->id;
  if (focused->source->kind == ControlKind::kDropList && !focused->items.empty()) {
    const int last = static_cast<int>(focused->items.size()) - 1;
    if (key.code == KeyCode::kDown || key.code == KeyCode::kRight)
      focused->selected = std::min(last, focused->selected + 1);
    if (key.code == KeyCode::kUp || key.code == KeyCode::kLeft) focused->selected = std::max(0, focused->selected - 1);
    if (key.code == KeyCode::kHome) focused->selected = 0;
    if (key.code == KeyCode::kEnd) focused->selected = last;
    if (key.code == KeyCode::kCharacter) SelectItem(focused->source->id, std::wstring_view(&key.character, 1));
  } else if (IsButton(*focused)) {
    if (key.code == KeyCode::kRight || key.code == KeyCode::kDown) MoveFocus(1);
    if (key.code == KeyCode::kLeft || key.code == KeyCode::kUp) MoveFocus(-1);
  }
  return std::nullopt;
}

int TerminalDialog::FrameRows() const { return ToCells(0, 0, template_.width, template_.height).rows + 2; }
int TerminalDialog::FrameColumns() const { return ToCells(0, 0, template_.width, template_.height).columns + 2; }

const TerminalDialog::Control* TerminalDialog::OnlyButton() const {
  const Control* found = nullptr;
  for (const Control& control : controls_) {
    if (!IsButton(control)) continue;
    if (found != nullptr) return nullptr;
    found = &control;
  }
  return found;
}

void TerminalDialog::Draw(TerminalCanvas& canvas) const {
  const int rows = FrameRows();
  const int columns = FrameColumns();
  if (!Fits(canvas.Rows(), canvas.Columns())) {
    // Drawn cut, the dialog would hide its controls: say what it needs instead.
    DrawTooSmall(canvas, L"the " + std::wstring(template_.title) + L" dialog", rows, columns);
    return;
  }
  const int top = std::max(0, (canvas.Rows() - rows) / 2);
  const int left = std::max(0, (canvas.Columns() - columns) / 2);
  canvas.Frame(top, left, rows, columns);
  const std::wstring title(CutToCells(L" " + std::wstring(template_.title) + L" ", columns - 2));
  canvas.Put(top, left + (columns - CellWidth(title)) / 2, title, CellStyle::kNormal);
  canvas.PlaceCursor(-1, -1);
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    DrawControl(canvas, controls_[i], top + 1, left + 1, static_cast<int>(i) == focus_);
  }
}

void TerminalDialog::DrawControl(TerminalCanvas& canvas, const Control& control, int top, int left,
                                 bool focused) const {
  const CellRect& cells = control.cells;
  const int row = top + cells.row;
  const int column = left + cells.column;
  const auto width = static_cast<std::size_t>(cells.columns);
  switch (control.source->kind) {
    case ControlKind::kDefaultButton:
    case ControlKind::kButton: {
      const bool isDefault = control.source->kind == ControlKind::kDefaultButton;
      const std::wstring_view text = CutToCells(control.text, cells.columns - 2);
      const int before = std::max(0, (cells.columns - CellWidth(text)) / 2 - 1);
      const int after = std::max(0, cells.columns - 2 - before - CellWidth(text));
      std::wstring face(1, isDefault ? L'<' : L'[');
      face.append(static_cast<std::size_t>(before), L' ').append(text).append(static_cast<std::size_t>(after), L' ');
      face += isDefault ? L'>' : L']';
      canvas.Put(row, column, face, focused ? CellStyle::kFocused : CellStyle::kNormal);
      break;
    }
    case ControlKind::kLabel: {
      // A text that fits its own cells stays there; a longer one takes the label's room.
      std::vector<std::wstring> lines = WrapText(control.text, cells.columns, cells.rows + 1);
      if (static_cast<int>(lines.size()) > cells.rows)
        lines = WrapText(control.text, control.room.columns, control.room.rows);
      for (std::size_t line = 0; line < lines.size(); ++line) {
        canvas.Put(row + static_cast<int>(line), column, lines[line], CellStyle::kNormal);
      }
      break;
    }
    case ControlKind::kEdit: {
      // The field's empty cells show as a line to write on: a terminal may draw no underline.
      const std::wstring_view from =
          std::wstring_view(control.text).substr(std::min(control.scroll, control.text.size()));
      std::wstring shown(CutToCells(from, cells.columns));
      shown.append(static_cast<std::size_t>(cells.columns - CellWidth(shown)), L'_');
      canvas.Put(row, column, shown, focused ? CellStyle::kFocusedField : CellStyle::kField);
      if (focused) canvas.PlaceCursor(row, column + CellWidth(from.substr(0, control.cursor - control.scroll)));
      break;
    }
    case ControlKind::kDropList: {
      const int textCells = std::max(0, cells.columns - 2);
      std::wstring shown(CutToCells(Text(control.source->id), textCells));
      shown.append(static_cast<std::size_t>(textCells - CellWidth(shown)), L' ');
      shown += width >= 2 ? L" v" : L"";
      canvas.Put(row, column, shown, focused ? CellStyle::kFocusedField : CellStyle::kField);
      break;
    }
  }
}

}  // namespace quillon::platform::terminal
