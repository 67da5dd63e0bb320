// The terminal front end's dialogs without a terminal: layout in character cells, the keyboard,
// edit fields, lists and message boxes, drawn into a grid of characters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dialog_entries.h"
#include "platform/terminal/terminal_dialog.h"
#include "platform/terminal/terminal_message_box.h"
#include "viewer/corvin_resource_table.h"
#include "viewer/corvin_resources.h"

namespace quillon::platform::terminal {
namespace {

class GridCanvas final : public TerminalCanvas {
 public:
  GridCanvas(int rows, int columns)
      : lines_(static_cast<std::size_t>(rows), std::wstring(static_cast<std::size_t>(columns), L'.')) {}
  int Rows() const override { return static_cast<int>(lines_.size()); }
  int Columns() const override { return static_cast<int>(lines_[0].size()); }
  void Put(int row, int column, std::wstring_view text, CellStyle style) override {
    // As on a terminal: a wide character takes two cells (the second shows as '+').
    for (const wchar_t c : text) {
      Set(row, column++, c);
      if (CellWidth(c) == 2) Set(row, column++, L'+');
    }
    if (style == CellStyle::kFocused || style == CellStyle::kFocusedField) focusRow = row;
  }
  void Frame(int row, int column, int rows, int columns) override {
    for (int r = row; r < row + rows; ++r) {
      for (int c = column; c < column + columns; ++c) {
        const bool edge = r == row || r == row + rows - 1 || c == column || c == column + columns - 1;
        Set(r, c, edge ? L'#' : L' ');
      }
    }
  }
  void PlaceCursor(int row, int column) override {
    cursorRow = row;
    cursorColumn = column;
  }
  const std::wstring& Line(int row) const { return lines_.at(static_cast<std::size_t>(row)); }
  int focusRow = -1;
  int cursorRow = -1;
  int cursorColumn = -1;

 private:
  void Set(int row, int column, wchar_t c) {
    if (row < 0 || row >= Rows() || column < 0 || column >= Columns()) return;
    lines_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = c;
  }
  std::vector<std::wstring> lines_;
};

const DialogTemplate& Corvin() { return *viewer::CorvinResources().FindDialog(CORVIN_DIALOG); }

// A dialog with every kind of control, shaped as the setup program's dialog.
#define LIST_DIALOG(CONTROL)                                     \
  CONTROL(Label, 1000, "Static", 9, 71, 140, 18)                 \
  CONTROL(Label, -1, "Bluetooth Module COM Port:", 7, 10, 92, 8) \
  CONTROL(Edit, 1001, "", 104, 7, 40, 14)                        \
  CONTROL(Label, -1, "PSR File:", 7, 30, 34, 8)                  \
  CONTROL(Button, 1003, "Start", 55, 46, 50, 14)                 \
  CONTROL(DropList, 1002, "", 48, 27, 97, 59)
constexpr ControlTemplate kListControls[] = {LIST_DIALOG(QUILLON_CONTROL_ENTRY)};
constexpr DialogTemplate kListDialog{102, L"Quillon", L"", 156, 102, L"MS Shell Dlg", 8, kListControls};

TEST(TerminalLayout, DialogUnitsBecomeCellsRoundedAtBothEnds) {
  struct Case {
    int x = 0, y = 0, width = 0, height = 0;
    CellRect cells;
  } const cases[] = {
      {28, 69, 60, 14, {9, 7, 1, 15}},                                // "Get Baud Rate"
      {103, 69, 50, 14, {9, 26, 1, 12}},                              // "Quit"
      {33, 19, 102, 13, {2, 8, 2, 26}},  {0, 0, 1, 1, {0, 0, 1, 1}},  // never smaller than one cell
      {0, 0, 186, 90, {0, 0, 11, 47}},
  };
  for (const Case& c : cases) {
    const CellRect cells = ToCells(c.x, c.y, c.width, c.height);
    EXPECT_EQ(cells.row, c.cells.row) << c.x << "," << c.y;
    EXPECT_EQ(cells.column, c.cells.column) << c.x << "," << c.y;
    EXPECT_EQ(cells.rows, c.cells.rows) << c.x << "," << c.y;
    EXPECT_EQ(cells.columns, c.cells.columns) << c.x << "," << c.y;
  }
  // Side by side in dialog units, side by side in cells.
  const CellRect left = ToCells(10, 0, 50, 8);
  const CellRect right = ToCells(60, 0, 50, 8);
  EXPECT_EQ(left.column + left.columns, right.column);
}

TEST(TerminalLayout, TextWrapsAtBlanksAndIsCutAtItsLines) {
  EXPECT_EQ(WrapText(L"Built-in Bluetooth Baud Rate:", 26, 2),
            (std::vector<std::wstring>{L"Built-in Bluetooth Baud", L"Rate:"}));
  EXPECT_EQ(WrapText(L"abcdefghij", 4, 5), (std::vector<std::wstring>{L"abcd", L"efgh", L"ij"}));
  EXPECT_EQ(WrapText(L"one two three", 20, 1), (std::vector<std::wstring>{L"one two three"}));
  EXPECT_EQ(WrapText(L"one two three four", 8, 1), (std::vector<std::wstring>{L"one two"}));
  EXPECT_EQ(WrapText(L"line\nnext", 20, 3), (std::vector<std::wstring>{L"line", L"next"}));
  EXPECT_TRUE(WrapText(L"text", 0, 3).empty());
}

TEST(TerminalDialogDrawing, CorvinsControlsStandWhereTheTemplatePutsThem) {
  TerminalDialog dialog(Corvin());
  GridCanvas canvas(15, 51);  // one cell of margin around the 49 x 13 frame
  dialog.Draw(canvas);
  EXPECT_EQ(canvas.Line(1).substr(1, 49), L"#################### Dialog #####################");
  EXPECT_EQ(canvas.Line(4).substr(10, 23), L"Built-in Bluetooth Baud");
  EXPECT_EQ(canvas.Line(11).substr(9, 15), L"<Get Baud Rate>");
  EXPECT_EQ(canvas.Line(11).substr(28, 12), L"[   Quit   ]");
  EXPECT_EQ(canvas.focusRow, 11);  // the first button has the keyboard
  EXPECT_EQ(canvas.Line(14), std::wstring(51, L'.'));
}

TEST(TerminalDialogDrawing, ASmallScreenSaysWhatSizeTheDialogNeeds) {
  TerminalDialog dialog(Corvin());
  GridCanvas canvas(6, 30);
  dialog.Draw(canvas);
  std::wstring shown;
  for (int row = 0; row < 6; ++row) shown += canvas.Line(row);
  EXPECT_EQ(canvas.Line(1), L"the Dialog dialog: it needs 49") << shown;
  EXPECT_EQ(canvas.Line(2).substr(0, 16), L"x 13 characters,") << shown;
  EXPECT_EQ(shown.find(L'#'), std::wstring::npos);  // no frame cut at the edge
  EXPECT_LT(canvas.cursorRow, 0);

  TerminalDialog quillon(kListDialog);
  GridCanvas exact(quillon.FrameRows(), quillon.FrameColumns());
  quillon.Draw(exact);
  EXPECT_EQ(exact.Line(0).front(), L'#');  // just big enough: the dialog itself
}

TEST(TerminalDialogKeys, TabVisitsButtonsAndFieldsButNotLabels) {
  TerminalDialog dialog(Corvin());
  EXPECT_EQ(dialog.FocusedId(), CORVIN_GET_BAUD_RATE);
  const int forward[] = {CORVIN_QUIT, CORVIN_BAUD_RATE_FIELD, CORVIN_GET_BAUD_RATE};
  for (const int id : forward) {
    dialog.HandleKey(Press(KeyCode::kTab));
    EXPECT_EQ(dialog.FocusedId(), id);
  }
  dialog.HandleKey(Press(KeyCode::kBackTab));
  EXPECT_EQ(dialog.FocusedId(), CORVIN_BAUD_RATE_FIELD);
}

TEST(TerminalDialogKeys, EnterSpaceAndEscGiveTheCommandsAWindowsDialogGives) {
  TerminalDialog dialog(Corvin());
  EXPECT_EQ(dialog.HandleKey(Press(KeyCode::kEnter)), CORVIN_GET_BAUD_RATE);
  dialog.HandleKey(Press(KeyCode::kTab));
  EXPECT_EQ(dialog.HandleKey(Press(KeyCode::kEnter)), CORVIN_QUIT);  // the focused button
  EXPECT_EQ(dialog.HandleKey(Character(L' ')), CORVIN_QUIT);
  dialog.HandleKey(Press(KeyCode::kTab));
  EXPECT_EQ(dialog.HandleKey(Press(KeyCode::kEnter)), CORVIN_GET_BAUD_RATE);  // from the field: the default button
  EXPECT_EQ(dialog.HandleKey(Character(L' ')), std::nullopt);                 // a blank typed into the field
  EXPECT_EQ(dialog.HandleKey(Press(KeyCode::kEscape)), kCommandCancel);

  // Without a default button Enter presses the only button, from wherever the keyboard is.
  TerminalDialog withoutDefault(kListDialog);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(withoutDefault.HandleKey(Press(KeyCode::kEnter)), 1003) << withoutDefault.FocusedId();
    withoutDefault.HandleKey(Press(KeyCode::kTab));
  }
}

TEST(TerminalDialogKeys, TheFieldTakesTypingAndEditingKeys) {
  TerminalDialog dialog(Corvin());
  dialog.HandleKey(Press(KeyCode::kBackTab));
  ASSERT_EQ(dialog.FocusedId(), CORVIN_BAUD_RATE_FIELD);
  for (const wchar_t c : std::wstring(L"11520")) dialog.HandleKey(Character(c));
  dialog.HandleKey(Press(KeyCode::kHome));
  dialog.HandleKey(Press(KeyCode::kDelete));
  dialog.HandleKey(Press(KeyCode::kEnd));
  dialog.HandleKey(Character(L'0'));
  dialog.HandleKey(Press(KeyCode::kLeft));
  dialog.HandleKey(Press(KeyCode::kBackspace));
  EXPECT_EQ(dialog.Text(CORVIN_BAUD_RATE_FIELD), L"1520");
}

TEST(TerminalDialogKeys, TheFieldHoldsAtMost259CharactersAndScrollsToTheCaret) {
  TerminalDialog dialog(Corvin());
  dialog.HandleKey(Press(KeyCode::kBackTab));
  for (std::size_t i = 0; i < kMaxFieldLength + 5; ++i)
    dialog.HandleKey(Character(static_cast<wchar_t>(L'a' + i % 26)));
  EXPECT_EQ(dialog.Text(CORVIN_BAUD_RATE_FIELD).size(), kMaxFieldLength);
  dialog.SetText(CORVIN_BAUD_RATE_FIELD, std::wstring(kMaxFieldLength + 1, L'x'));
  EXPECT_EQ(dialog.Text(CORVIN_BAUD_RATE_FIELD).size(), kMaxFieldLength);
  dialog.SetText(CORVIN_BAUD_RATE_FIELD, std::wstring(kMaxFieldLength, L'y'));
  EXPECT_EQ(dialog.Text(CORVIN_BAUD_RATE_FIELD).size(), kMaxFieldLength);

  dialog.SetText(CORVIN_BAUD_RATE_FIELD, L"");
  const std::wstring typed = L"0123456789abcdefghijklmnopqrstuvwxyz";  // longer than the field's 28 cells
  for (const wchar_t c : typed) dialog.HandleKey(Character(c));
  GridCanvas canvas(13, 49);
  dialog.Draw(canvas);
  const std::wstring& line = canvas.Line(5);
  EXPECT_NE(line.find(L"xyz"), std::wstring::npos);  // the end, where the caret is, shows
  EXPECT_EQ(line.find(L"0123"), std::wstring::npos);
  EXPECT_EQ(canvas.cursorRow, 5);
  EXPECT_EQ(line[static_cast<std::size_t>(canvas.cursorColumn) - 1], L'z');
}

TEST(TerminalDialogList, ItemsAreSortedAndChosenByPrefixOrArrows) {
  TerminalDialog dialog(kListDialog);
  for (const wchar_t* item : {L"zeta.psr", L"Alpha.psr", L"beta.psr", L"alpine.psr"}) dialog.AddItem(1002, item);
  EXPECT_EQ(dialog.Text(1002), L"");
  EXPECT_TRUE(dialog.SelectItem(1002, L"AL"));
  EXPECT_EQ(dialog.Text(1002), L"Alpha.psr");
  EXPECT_TRUE(dialog.SelectItem(1002, L"al"));  // searched after the selection, wrapping around
  EXPECT_EQ(dialog.Text(1002), L"alpine.psr");
  EXPECT_TRUE(dialog.SelectItem(1002, L"al"));
  EXPECT_EQ(dialog.Text(1002), L"Alpha.psr");
  EXPECT_FALSE(dialog.SelectItem(1002, L"gamma"));
  EXPECT_EQ(dialog.Text(1002), L"Alpha.psr");

  while (dialog.FocusedId() != 1002) dialog.HandleKey(Press(KeyCode::kTab));
  dialog.HandleKey(Press(KeyCode::kDown));
  dialog.HandleKey(Press(KeyCode::kDown));
  EXPECT_EQ(dialog.Text(1002), L"beta.psr");
  dialog.HandleKey(Press(KeyCode::kDown));
  dialog.HandleKey(Press(KeyCode::kDown));  // stays on the last item
  EXPECT_EQ(dialog.Text(1002), L"zeta.psr");
  dialog.HandleKey(Press(KeyCode::kHome));
  EXPECT_EQ(dialog.Text(1002), L"Alpha.psr");
  dialog.AddItem(1002, L"aardvark.psr");  // sorts before the selection, which stays on its item
  EXPECT_EQ(dialog.Text(1002), L"Alpha.psr");
}

TEST(TerminalDialogDrawing, AStatusLineWrapsOverItsTwoRows) {
  TerminalDialog dialog(kListDialog);
  dialog.SetText(1000, L"Unable to retrieve the Bluetooth Serial port (2).");
  GridCanvas canvas(15, 41);
  dialog.Draw(canvas);
  // 102 dialog units: 13 rows; the status line at row 9 of the client area, 35 cells wide.
  EXPECT_EQ(canvas.Line(10).substr(2, 37), L" Unable to retrieve the Bluetooth    ");
  EXPECT_EQ(canvas.Line(11).substr(2, 37), L" Serial port (2).                    ");
}

struct BoxCase {
  MessageBoxButtons buttons;
  std::vector<Key> keys;
  MessageBoxAnswer answer;
};

TEST(TerminalMessageBoxKeys, KeysAnswerAsTheButtonsSay) {
  const BoxCase cases[] = {
      {MessageBoxButtons::kOk, {Press(KeyCode::kEnter)}, MessageBoxAnswer::kOk},
      {MessageBoxButtons::kOk, {Press(KeyCode::kEscape)}, MessageBoxAnswer::kOk},
      {MessageBoxButtons::kYesNo, {Press(KeyCode::kEnter)}, MessageBoxAnswer::kYes},
      {MessageBoxButtons::kYesNo, {Press(KeyCode::kTab), Press(KeyCode::kEnter)}, MessageBoxAnswer::kNo},
      {MessageBoxButtons::kYesNo,
       {Press(KeyCode::kRight), Press(KeyCode::kRight), Character(L' ')},
       MessageBoxAnswer::kYes},
      {MessageBoxButtons::kYesNo, {Character(L'n')}, MessageBoxAnswer::kNo},
      {MessageBoxButtons::kYesNo, {Press(KeyCode::kTab), Character(L'Y')}, MessageBoxAnswer::kYes},
      {MessageBoxButtons::kYesNo, {Press(KeyCode::kEscape)}, MessageBoxAnswer::kNo},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    TerminalMessageBox box(L"Are you sure?", L"Please confirm", cases[i].buttons, MessageBoxIcon::kNone);
    std::optional<MessageBoxAnswer> answer;
    for (const Key& key : cases[i].keys) {
      EXPECT_FALSE(answer.has_value()) << "case " << i << " answered early";
      answer = box.HandleKey(key);
    }
    EXPECT_EQ(answer, cases[i].answer) << "case " << i;
  }
  TerminalMessageBox ok(L"Done", L"Error", MessageBoxButtons::kOk, MessageBoxIcon::kError);
  EXPECT_EQ(ok.HandleKey(Character(L'y')), std::nullopt);
}

TEST(TerminalMessageBoxDrawing, CaptionTextAndButtonsShowInsideTheBox) {
  TerminalMessageBox box(L"Are you sure about using COM7: port?", L"Confirmation", MessageBoxButtons::kYesNo,
                         MessageBoxIcon::kQuestion);
  GridCanvas canvas(10, 50);
  box.Draw(canvas);
  std::wstring all;
  for (int row = 0; row < canvas.Rows(); ++row) all += canvas.Line(row) + L"\n";
  EXPECT_NE(all.find(L" Confirmation "), std::wstring::npos) << std::string(all.begin(), all.end());
  EXPECT_NE(all.find(L"(?) Are you sure about using COM7: port?"), std::wstring::npos);
  EXPECT_NE(all.find(L"[ Yes ] [ No  ]"), std::wstring::npos) << std::string(all.begin(), all.end());
}

// The frame's rows and columns as drawn: the extent of the '#' cells.
std::pair<int, int> DrawnFrame(const GridCanvas& canvas) {
  int top = -1, bottom = -1, left = canvas.Columns(), right = -1;
  for (int row = 0; row < canvas.Rows(); ++row) {
    const std::size_t first = canvas.Line(row).find(L'#');
    if (first == std::wstring::npos) continue;
    if (top < 0) top = row;
    bottom = row;
    left = std::min(left, static_cast<int>(first));
    right = std::max(right, static_cast<int>(canvas.Line(row).rfind(L'#')));
  }
  return {top < 0 ? 0 : bottom - top + 1, right < 0 ? 0 : right - left + 1};
}

TEST(TerminalMessageBoxDrawing, ABoxThatDoesNotFitSaysWhatItNeedsInsteadOfItsButtons) {
  TerminalMessageBox box(L"Are you sure about using COM7: port?", L"Confirmation", MessageBoxButtons::kYesNo,
                         MessageBoxIcon::kQuestion);
  GridCanvas roomy(30, 80);
  box.Draw(roomy);
  const auto [rows, columns] = DrawnFrame(roomy);
  ASSERT_GT(rows, 0);
  // At its own size it fits; a row or a column less and it does not.
  EXPECT_TRUE(box.Fits(rows, 80));
  EXPECT_FALSE(box.Fits(rows - 1, 80));
  EXPECT_TRUE(box.Fits(30, columns));
  EXPECT_FALSE(box.Fits(rows, columns - 8));

  GridCanvas small(rows - 1, 30);
  box.Draw(small);
  std::wstring shown;
  for (int row = 0; row < small.Rows(); ++row) shown += small.Line(row);
  EXPECT_EQ(shown.find(L"Yes"), std::wstring::npos) << std::string(shown.begin(), shown.end());
  EXPECT_EQ(small.Line(small.Rows() - 1), std::wstring(30, L' '));  // nothing below shows through
  EXPECT_EQ(small.Line(0), L"The terminal is too small for ");
  EXPECT_EQ(small.Line(1).substr(0, 27), L"the message \"Confirmation\":");
}

TEST(TerminalDialogKeys, OnlyEscActsUnseen) {
  for (const Key& key : {Press(KeyCode::kEnter), Character(L'y'), Character(L' '), Press(KeyCode::kTab)})
    EXPECT_FALSE(ActsUnseen(key)) << static_cast<int>(key.code);
  EXPECT_TRUE(ActsUnseen(Press(KeyCode::kEscape)));
  TerminalDialog dialog(kListDialog);
  EXPECT_TRUE(dialog.Fits(dialog.FrameRows(), dialog.FrameColumns()));
  EXPECT_FALSE(dialog.Fits(dialog.FrameRows() - 1, dialog.FrameColumns()));
  EXPECT_FALSE(dialog.Fits(dialog.FrameRows(), dialog.FrameColumns() - 1));
}

TEST(TerminalDialogDrawing, WideCharactersAreCutByTheCellsTheyTake) {
  const std::wstring japanese =
      L"\u8a2d\u5b9a\u30d5\u30a1\u30a4\u30eb\u306e\u4f8b\u3067\u3059\u3088\u306d\u3002\u9577\u3044\u540d\u524d.psr";
  EXPECT_EQ(CellWidth(japanese), 2 * 17 + 4);
  EXPECT_EQ(CutToCells(japanese, 5), japanese.substr(0, 2));  // never half a character
  EXPECT_EQ(CutToCells(L"abc", 3), L"abc");
  for (const auto& line : WrapText(japanese, 7, 10)) EXPECT_LE(CellWidth(line), 7);

  TerminalDialog dialog(kListDialog);
  dialog.AddItem(1002, japanese);
  dialog.SelectItem(1002, japanese.substr(0, 1));
  dialog.SetText(1003, japanese);
  dialog.SetText(1001, japanese);
  GridCanvas canvas(15, 41);
  dialog.Draw(canvas);
  // The frame's right border stands in its column on every row, whatever the controls hold.
  for (int row = 0; row < canvas.Rows(); ++row)
    EXPECT_EQ(canvas.Line(row)[40], L'#')
        << "row " << row << ": " << std::string(canvas.Line(row).begin(), canvas.Line(row).end());
  EXPECT_LE(canvas.cursorColumn, 40);
}

}  // namespace
}  // namespace quillon::platform::terminal
