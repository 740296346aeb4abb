// The string grid's keyboard and mouse, the notifications it sends its
// parent, and the in-place editor of a cell.
#include "win/string_grid_window.h"

#include <commctrl.h>
#include <windowsx.h>

namespace qm::win::grid {

void StringGrid::Notify(UINT code, void *data, NMHDR &hdr) {
  hdr.hwndFrom = wnd_;
  hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(wnd_));
  hdr.code = code;
  HWND parent = GetParent(wnd_);
  if (parent) SendMessageA(parent, WM_NOTIFY, hdr.idFrom, reinterpret_cast<LPARAM>(data));
}

void StringGrid::NotifyMouse(UINT code, UINT button, POINT point, std::optional<GridCell> cell) {
  NMSTRINGGRIDMOUSE nm{};
  nm.button = button;
  nm.point = point;
  nm.col = cell ? cell->col : -1;
  nm.row = cell ? cell->row : -1;
  Notify(code, &nm, nm.hdr);
}

void StringGrid::MoveTo(GridCell cell, bool extend) {
  cell.col = std::clamp(cell.col, 0, kGridColumns - 1);
  cell.row = std::clamp(cell.row, FirstRow(), geo_.rowCount - 1);
  EndEdit(true, true);
  current_ = cell;
  if (!extend) anchor_ = cell;
  ShowCell(cell);
  InvalidateRect(wnd_, nullptr, FALSE);
}

void StringGrid::OnKeyDown(WPARAM key) {
  const bool shift = GetKeyState(VK_SHIFT) < 0;
  const bool ctrl = GetKeyState(VK_CONTROL) < 0;
  GridCell to = current_;
  const int page = VisibleRows(geo_, ClientSize().cy);
  switch (key) {
  case VK_UP:
    --to.row;
    break;
  case VK_DOWN:
    ++to.row;
    break;
  case VK_LEFT:
    --to.col;
    break;
  case VK_RIGHT:
    ++to.col;
    break;
  case VK_PRIOR:
    to.row -= page;
    break;
  case VK_NEXT:
    to.row += page;
    break;
  case VK_HOME:
    to.col = 0;
    if (ctrl) to.row = FirstRow();
    break;
  case VK_END:
    to.col = kGridColumns - 1;
    if (ctrl) to.row = geo_.rowCount - 1;
    break;
  case VK_F2:
    if (CanEdit(current_)) BeginEdit(rows_[current_.row][current_.col].shown, true);
    return;
  default:
    return;
  }
  MoveTo(to, shift);
}

void StringGrid::OnChar(WPARAM ch) {
  // A printable character starts editing and replaces the cell's text.
  if (ch < 32 || ch == 127 || editing_ || !CanEdit(current_)) return;
  BeginEdit(std::string(1, static_cast<char>(ch)), false);
}

void StringGrid::OnButtonDown(UINT msg, LPARAM lp) {
  POINT point{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
  std::optional<GridCell> cell = CellFromPoint(geo_, point.x, point.y);
  NotifyMouse(SGN_MOUSEDOWN, msg, point, cell);
  if (!IsWindow(wnd_)) return;
  if (msg != WM_LBUTTONDOWN) return;
  const bool hadFocus = GetFocus() == wnd_;
  if (!hadFocus && !(editing_ && GetFocus() == editor_)) SetFocus(wnd_);
  if (!cell || cell->row < geo_.fixedRows) return;
  if (GetKeyState(VK_SHIFT) < 0) {
    MoveTo(*cell, true);
    return;
  }
  const bool single = anchor_ == current_;
  if (hadFocus && single && *cell == current_ && CanEdit(*cell)) {
    BeginEdit(rows_[cell->row][cell->col].shown, true);
    return;
  }
  MoveTo(*cell, false);
  dragging_ = true;
  SetCapture(wnd_);
}

void StringGrid::OnMouseMove(LPARAM lp) {
  FollowHover({GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
  if (!dragging_ || geo_.rowCount <= geo_.fixedRows) return;
  // Past an edge the selection still reaches the nearest cell.
  GridCell cell = NearestOrdinaryCell(geo_, GET_X_LPARAM(lp), GET_Y_LPARAM(lp), ClientSize().cy);
  if (!(cell == current_)) MoveTo(cell, true);
}

void StringGrid::OnContextMenu(LPARAM lp) {
  if (lp == -1) {
    // From the keyboard: the menu belongs to the current cell.
    RECT rc = CellRect(current_);
    NotifyMouse(SGN_CONTEXTMENU, WM_RBUTTONDOWN, {rc.left, rc.top}, current_);
    return;
  }
  POINT point{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
  ScreenToClient(wnd_, &point);
  NotifyMouse(SGN_CONTEXTMENU, WM_RBUTTONDOWN, point, CellFromPoint(geo_, point.x, point.y));
}

void StringGrid::BeginEdit(const std::string &text, bool selectAll) {
  if (editing_ || !CanEdit(current_)) return;
  if (!editor_) {
    editor_ = CreateWindowExA(0, "EDIT", "", WS_CHILD | ES_AUTOHSCROLL, 0, 0, 0, 0, wnd_, nullptr,
                              reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(wnd_, GWLP_HINSTANCE)), nullptr);
    if (!editor_) return;
    SetWindowSubclass(editor_, EditorProc, kEditorSubclass, reinterpret_cast<DWORD_PTR>(this));
  }
  SendMessageA(editor_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  anchor_ = current_;
  ShowCell(current_);
  editCell_ = current_;
  editing_ = true;
  SetWindowTextA(editor_, text.c_str());
  const int length = static_cast<int>(text.size());
  SendMessageA(editor_, EM_SETSEL, selectAll ? 0 : length, length);
  PlaceEditor();
  ShowWindow(editor_, SW_SHOW);
  SetFocus(editor_);
  InvalidateRect(wnd_, nullptr, FALSE);
}

void StringGrid::PlaceEditor() {
  if (!editing_ || !editor_) return;
  RECT rc = CellRect(editCell_);
  // The editor covers the cell's text area but stays below the header.
  const int top = std::max(static_cast<int>(rc.top), geo_.FixedHeight());
  SetWindowPos(editor_, HWND_TOP, rc.left + 1, top + 1, rc.right - rc.left - 1, rc.bottom - top - 1, SWP_NOACTIVATE);
}

void StringGrid::EndEdit(bool commit, bool keepFocus) {
  if (!editing_) return;
  editing_ = false; // first, so the focus change below does not commit again
  const bool editorHadFocus = GetFocus() == editor_;
  bool changed = false;
  if (commit && CellExists(editCell_)) {
    const int length = GetWindowTextLengthA(editor_);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowTextA(editor_, text.data(), length + 1)));
    GridText &cell = rows_[editCell_.row][editCell_.col];
    changed = cell.shown != text;
    SetShown(cell, std::move(text));
  }
  if (keepFocus && editorHadFocus) SetFocus(wnd_);
  ShowWindow(editor_, SW_HIDE);
  InvalidateRect(wnd_, nullptr, FALSE);
  if (changed) {
    NMSTRINGGRIDCELL nm{};
    nm.col = editCell_.col;
    nm.row = editCell_.row;
    Notify(SGN_CELLCHANGED, &nm, nm.hdr);
  }
}

LRESULT CALLBACK StringGrid::EditorProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref) {
  auto *grid = reinterpret_cast<StringGrid *>(ref);
  switch (msg) {
  case WM_GETDLGCODE: {
    // Enter and Escape belong to the editor, not to the dialog manager's
    // default and cancel buttons; Tab still moves on (and commits).
    LRESULT code = DefSubclassProc(wnd, msg, wp, lp);
    auto *keyMsg = reinterpret_cast<MSG *>(lp);
    if (keyMsg && keyMsg->message == WM_KEYDOWN && (keyMsg->wParam == VK_RETURN || keyMsg->wParam == VK_ESCAPE))
      code |= DLGC_WANTALLKEYS;
    return code;
  }
  case WM_KEYDOWN:
    if (wp == VK_RETURN || wp == VK_ESCAPE) {
      grid->EndEdit(wp == VK_RETURN, true);
      return 0;
    }
    break;
  case WM_CHAR:
    if (wp == '\r' || wp == 27) return 0; // already handled on the key press; no beep
    break;
  case WM_KILLFOCUS:
    grid->EndEdit(true, false);
    break;
  case WM_NCDESTROY:
    RemoveWindowSubclass(wnd, EditorProc, kEditorSubclass);
    break;
  default:
    break;
  }
  return DefSubclassProc(wnd, msg, wp, lp);
}

} // namespace qm::win::grid
