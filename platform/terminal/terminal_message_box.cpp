#include "platform/terminal/terminal_message_box.h"

#include <algorithm>

#include "platform/terminal/terminal_dialog.h"

namespace quillon::platform::terminal {
namespace {

constexpr int kMaxTextColumns = 60;
constexpr int kMaxTextLines = 8;

std::wstring_view AnswerText(MessageBoxAnswer answer) {
  switch (answer) {
    case MessageBoxAnswer::kYes:
      return L"Yes";
    case MessageBoxAnswer::kNo:
      return L"No";
    default:
      return L"OK";
  }
}

std::wstring IconPrefix(MessageBoxIcon icon) {
  switch (icon) {
    case MessageBoxIcon::kError:
      return L"(x) ";
    case MessageBoxIcon::kQuestion:
      return L"(?) ";
    default:
      return L"";
  }
}

}  // namespace

TerminalMessageBox::TerminalMessageBox(std::wstring_view text, std::wstring_view caption, MessageBoxButtons buttons,
                                       MessageBoxIcon icon)
    : text_(IconPrefix(icon) + std::wstring(text)), caption_(caption) {
  if (buttons == MessageBoxButtons::kYesNo) {
    answers_ = {MessageBoxAnswer::kYes, MessageBoxAnswer::kNo};
  } else {
    answers_ = {MessageBoxAnswer::kOk};
  }
}

std::optional<MessageBoxAnswer> TerminalMessageBox::HandleKey(const Key& key) {
  const bool yesNo = answers_.size() == 2;
  switch (key.code) {
    case KeyCode::kEnter:
      return answers_[chosen_];
    case KeyCode::kEscape:
      return answers_.back();
    case KeyCode::kTab:
    case KeyCode::kRight:
    case KeyCode::kDown:
      chosen_ = (chosen_ + 1) % answers_.size();
      return std::nullopt;
    case KeyCode::kBackTab:
    case KeyCode::kLeft:
    case KeyCode::kUp:
      chosen_ = (chosen_ + answers_.size() - 1) % answers_.size();
      return std::nullopt;
    case KeyCode::kCharacter:
      if (key.character == L' ') return answers_[chosen_];
      if (yesNo && (key.character == L'y' || key.character == L'Y')) return MessageBoxAnswer::kYes;
      if (yesNo && (key.character == L'n' || key.character == L'N')) return MessageBoxAnswer::kNo;
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

TerminalMessageBox::Layout TerminalMessageBox::Arrange(int screenColumns) const {
  Layout layout;
  const int textColumns = std::max(10, std::min(kMaxTextColumns, screenColumns - 6));
  layout.lines = WrapText(text_, textColumns, kMaxTextLines);
  int widest = CellWidth(caption_) + 2;
  for (const std::wstring& line : layout.lines) widest = std::max(widest, CellWidth(line));
  widest = std::max(widest, static_cast<int>(answers_.size()) * 8);
  layout.columns = widest + 4;
  layout.rows = static_cast<int>(layout.lines.size()) + 5;
  return layout;
}

bool TerminalMessageBox::Fits(int screenRows, int screenColumns) const {
  const Layout layout = Arrange(screenColumns);
  return screenRows >= layout.rows && screenColumns >= layout.columns;
}

void TerminalMessageBox::Draw(TerminalCanvas& canvas) const {
  const Layout layout = Arrange(canvas.Columns());
  const std::vector<std::wstring>& lines = layout.lines;
  const int columns = layout.columns;
  const int rows = layout.rows;
  if (!Fits(canvas.Rows(), canvas.Columns())) {
    // A box drawn cut would hide its question or its buttons.
    DrawTooSmall(canvas, L"the message \"" + caption_ + L"\"", rows, columns);
    return;
  }
  const int top = std::max(0, (canvas.Rows() - rows) / 2);
  const int left = std::max(0, (canvas.Columns() - columns) / 2);
  canvas.Frame(top, left, rows, columns);
  const std::wstring caption(CutToCells(L" " + caption_ + L" ", columns - 2));
  canvas.Put(top, left + std::max(1, (columns - CellWidth(caption)) / 2), caption, CellStyle::kNormal);
  for (std::size_t i = 0; i < lines.size(); ++i)
    canvas.Put(top + 2 + static_cast<int>(i), left + 2, lines[i], CellStyle::kNormal);
  const int buttonRow = top + rows - 2;
  int column = left + (columns - static_cast<int>(answers_.size()) * 8 + 2) / 2;
  for (std::size_t i = 0; i < answers_.size(); ++i) {
    std::wstring face = L"[" + std::wstring(5, L' ') + L"]";
    const std::wstring_view name = AnswerText(answers_[i]);
    name.copy(face.data() + 1 + (5 - name.size()) / 2, name.size());
    canvas.Put(buttonRow, column, face, i == chosen_ ? CellStyle::kFocused : CellStyle::kNormal);
    column += 8;
  }
  canvas.PlaceCursor(-1, -1);
}

}  // namespace quillon::platform::terminal
