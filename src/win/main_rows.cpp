// The version numbers' up-downs and edits, and the string rows: the rows
// the check boxes add and remove, the grid's popup menu, and the file
// version row that follows the file version's up-downs.
#include "win/untMain.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "codec/editor_fields.h"
#include "codec/field_codes.h"
#include "win/control_text.h"
#include "win/dialogs.h"
#include "win/main_ids.h"
#include "win/string_grid.h"

namespace qm::win {

using layout::Id;

// ---- the up-downs and their edits -------------------------------------------

void TfrmMain::SetUpDownPosition(int tag, short position) {
  if (tag < 0 || tag >= static_cast<int>(positions_.size())) return;
  short &current = positions_[static_cast<size_t>(tag)];
  if (current == position) return;
  bool allowChange = true;
  UpFileMajorChangingEx(tag, allowChange, position);
  if (!allowChange) return;
  current = position;
  SendMessageA(Control(kUpDowns[static_cast<size_t>(tag)]), UDM_SETPOS32, 0, position);
}

// The window moves the position itself, so that a step from a position a
// load put outside the range starts at the range's nearest end.
LRESULT TfrmMain::OnUpDownStep(int tag, const NMUPDOWN &change) {
  if (tag < 0 || tag >= static_cast<int>(positions_.size())) return TRUE;
  const int current = positions_[static_cast<size_t>(tag)];
  const int start = std::clamp(current, layout::kUpDownMin, layout::kUpDownMax);
  const int target = std::clamp(start + change.iDelta, layout::kUpDownMin, layout::kUpDownMax);
  if (target != current) SetUpDownPosition(tag, static_cast<short>(target));
  return TRUE;
}

void TfrmMain::UpFileMajorChangingEx(int tag, bool &, short newValue) {
  if (tag < 0 || tag >= static_cast<int>(kVersionEdits.size())) return;
  SetWindowTextA(Control(kVersionEdits[static_cast<size_t>(tag)]), std::to_string(newValue).c_str());
  if (tag >= kFileVersionTags) return;
  const std::vector<StringRow> rows = GridRows();
  const std::optional<size_t> row = FirstRowKeyed(rows, kFileVersionKey);
  if (!row) return;
  SetGridCell(1, static_cast<int>(*row) + 1,
              FileVersionRowText(WindowText(Control(Id::EdtFileMajor)), WindowText(Control(Id::EdtFileMinor)),
                                 WindowText(Control(Id::EdtFileRelease)), WindowText(Control(Id::EdtFileBuild))));
}

void TfrmMain::EdtFileMajorKeyPress(char &key) {
  constexpr char kBackspace = 8;
  if ((key < '0' || key > '9') && key != kBackspace) key = 0;
}

// ---- the string rows --------------------------------------------------------

void TfrmMain::SetGridCell(int col, int row, const std::string &text) {
  SendMessageA(Control(Id::Strings), SGM_SETCELLTEXT, MAKEWPARAM(col, row), reinterpret_cast<LPARAM>(text.c_str()));
}

bool TfrmMain::SetGridCellUtf16(int col, int row, std::u16string_view text) {
  const std::u16string terminated(text);
  return SendMessageA(Control(Id::Strings), SGM_SETCELLTEXTW, MAKEWPARAM(col, row),
                      reinterpret_cast<LPARAM>(terminated.c_str())) == SGC_KEPT;
}

std::vector<StringRowUtf16> TfrmMain::GridRowsUtf16() const {
  HWND grid = Control(Id::Strings);
  const auto cell = [grid](int col, int row) {
    const LRESULT length = SendMessageA(grid, SGM_GETCELLTEXTW, MAKEWPARAM(col, row), 0);
    if (length <= 0) return std::u16string();
    std::u16string text(static_cast<size_t>(length) + 1, u'\0');
    SendMessageA(grid, SGM_GETCELLTEXTW, MAKEWPARAM(col, row), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return text;
  };
  std::vector<StringRowUtf16> rows;
  const int count = RowCount(grid);
  for (int row = 1; row < count; ++row)
    rows.push_back({cell(0, row), cell(1, row)});
  return rows;
}

std::vector<StringRow> TfrmMain::GridRows() const {
  HWND grid = Control(Id::Strings);
  std::vector<StringRow> rows;
  const int count = RowCount(grid);
  for (int row = 1; row < count; ++row)
    rows.push_back({CellText(grid, 0, row), CellText(grid, 1, row)});
  return rows;
}

void TfrmMain::AppendGridRow(const std::string &key) {
  const int count = RowCount(Control(Id::Strings));
  SendMessageA(Control(Id::Strings), SGM_SETROWCOUNT, static_cast<WPARAM>(count + 1), 0);
  SetGridCell(0, count, key);
}

void TfrmMain::BuildRowFollowingBox(HWND box, std::string_view key) {
  if (IsChecked(box)) return AppendGridRow(std::string(key));
  const std::optional<size_t> row = FirstRowKeyed(GridRows(), key);
  if (row) RemoveGridRow(static_cast<int>(*row) + 1, Control(Id::Strings));
}

void TfrmMain::ChkSpecialMouseUp() { BuildRowFollowingBox(Control(Id::ChkSpecial), kSpecialBuildKey); }

void TfrmMain::ChkPrivateMouseUp() { BuildRowFollowingBox(Control(Id::ChkPrivate), kPrivateBuildKey); }

void TfrmMain::AddKey1Click() {
  const std::optional<std::string> key = CurrentDialogs().InputBox(wnd_, "Key Name", "Please enter a Key Name");
  if (key && !key->empty()) AppendGridRow(*key);
}

// The header row is not an entry: removing "it" would shift the entries
// into the header, so a press on the header leaves the table alone.
void TfrmMain::RemoveKey1Click() {
  if (pressedRow_ == 0) return;
  RemoveGridRow(pressedRow_, Control(Id::Strings));
}

void RemoveGridRow(int row, HWND grid) {
  if (!SendMessageA(grid, SGM_DELETEROW, static_cast<WPARAM>(row), 0)) {
    throw std::runtime_error("Grid index out of range");
  }
}

} // namespace qm::win
