#include "win/string_grid.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "win/grid_model.h"
#include "win/window_base.h"

namespace qm::win {
namespace {

constexpr int kTextInset = 2;
constexpr int kWheelRows = 3;
constexpr int kLinePixels = 16; // one horizontal scroll-bar arrow step
constexpr UINT_PTR kEditorSubclass = 1;
constexpr UINT kCreateHintMessage = WM_APP + 0x20; // posted to itself

// Made by the window at WM_NCCREATE, since the grid is created by class name.
class StringGrid : public WindowBase<StringGrid> {
public:
  StringGrid() : rows_(6) {
    geo_.colWidth = Scale(180);
    geo_.rowHeight = Scale(18);
    geo_.rowCount = static_cast<int>(rows_.size());
  }
  static WNDCLASSA Record(HINSTANCE instance) { return ClassRecord(instance, kStringGridClass); }

  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);

private:
  // State helpers.
  GridRange Selection() const { return NormaliseRange(anchor_, current_); }
  SIZE ClientSize() const;
  RECT CellRect(GridCell cell) const;
  bool CellExists(GridCell cell) const {
    return cell.col >= 0 && cell.col < kGridColumns && cell.row >= 0 && cell.row < geo_.rowCount;
  }
  int FirstRow() const { return std::min(geo_.fixedRows, geo_.rowCount - 1); }
  void Notify(UINT code, void *data, NMHDR &hdr);
  void NotifyMouse(UINT code, UINT button, POINT point, std::optional<GridCell> cell);

  // Layout and painting.
  void UpdateScrollBars();
  void ScrollTo(int topRow, int scrollX);
  void ShowCell(GridCell cell);
  void Paint(HDC dc);
  void PaintCell(HDC dc, GridCell cell, const RECT &cellRect, bool focused);

  // Selection and input.
  void MoveTo(GridCell cell, bool extend);
  void OnKeyDown(WPARAM key);
  void OnChar(WPARAM ch);
  void OnButtonDown(UINT msg, LPARAM lp);
  void OnMouseMove(LPARAM lp);
  // The hint that shows a cell's whole text where the column cuts it.
  void CreateHint();
  void FollowHover(POINT point);
  bool TextIsCut(GridCell cell) const;
  void OnContextMenu(LPARAM lp);
  void OnScroll(int bar, int code);
  void SetRowCount(int count);
  LRESULT GetCellText(WPARAM wp, char *buffer) const;
  LRESULT SetCellText(WPARAM wp, const char *text);
  LRESULT SetSelection(const RECT *range);

  // In-place editing.
  bool CanEdit(GridCell cell) const { return CellExists(cell) && cell.row >= geo_.fixedRows; }
  void BeginEdit(const std::string &text, bool selectAll);
  void EndEdit(bool commit, bool keepFocus);
  void PlaceEditor();
  static LRESULT CALLBACK EditorProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR ref);

  std::vector<GridRow> rows_;
  GridGeometry geo_;
  HFONT font_ = nullptr;
  GridCell anchor_{0, 1};
  GridCell current_{0, 1};
  bool dragging_ = false;
  bool inScrollUpdate_ = false;
  HWND editor_ = nullptr;
  bool editing_ = false;
  GridCell editCell_{};
  HWND hint_ = nullptr;
  std::optional<GridCell> hintCell_; // the cell the hint was last set for
};

SIZE StringGrid::ClientSize() const {
  RECT rc{};
  GetClientRect(wnd_, &rc);
  return {rc.right, rc.bottom};
}

RECT StringGrid::CellRect(GridCell cell) const {
  CellPlace place = CellOrigin(geo_, cell, ClientSize().cy);
  return {place.x, place.y, place.x + geo_.colWidth, place.y + geo_.rowHeight};
}

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

// The bars depend on each other: a vertical bar narrows the client area and
// may call for a horizontal one, which lowers it in turn.
void StringGrid::UpdateScrollBars() {
  if (inScrollUpdate_) return;
  inScrollUpdate_ = true;
  const LONG style = GetWindowLongA(wnd_, GWL_STYLE);
  SIZE client = ClientSize();
  const int fullWidth = client.cx + ((style & WS_VSCROLL) ? GetSystemMetrics(SM_CXVSCROLL) : 0);
  const int fullHeight = client.cy + ((style & WS_HSCROLL) ? GetSystemMetrics(SM_CYHSCROLL) : 0);
  const int ordinary = geo_.rowCount - geo_.fixedRows;
  bool needV = false;
  bool needH = false;
  for (int pass = 0; pass < 2; ++pass) {
    const int height = fullHeight - (needH ? GetSystemMetrics(SM_CYHSCROLL) : 0);
    needV = ordinary > 0 && ordinary > VisibleRows(geo_, height) &&
            geo_.FixedHeight() + ordinary * geo_.RowExtent() > height;
    const int width = fullWidth - (needV ? GetSystemMetrics(SM_CXVSCROLL) : 0);
    needH = geo_.TotalWidth() > width;
  }
  const int width = fullWidth - (needV ? GetSystemMetrics(SM_CXVSCROLL) : 0);
  const int height = fullHeight - (needH ? GetSystemMetrics(SM_CYHSCROLL) : 0);

  geo_.topRow = std::clamp(geo_.topRow, geo_.fixedRows, MaxTopRow(geo_, height));
  geo_.scrollX = std::clamp(geo_.scrollX, 0, std::max(0, geo_.TotalWidth() - width));

  SCROLLINFO si{sizeof(si), SIF_ALL, 0, 0, 0, 0, 0};
  if (needV) {
    si.nMin = geo_.fixedRows;
    si.nMax = geo_.rowCount - 1;
    si.nPage = static_cast<UINT>(VisibleRows(geo_, height));
    si.nPos = geo_.topRow;
  }
  SetScrollInfo(wnd_, SB_VERT, &si, TRUE);
  si = SCROLLINFO{sizeof(si), SIF_ALL, 0, 0, 0, 0, 0};
  if (needH) {
    si.nMax = geo_.TotalWidth() - 1;
    si.nPage = static_cast<UINT>(std::max(1, width));
    si.nPos = geo_.scrollX;
  }
  SetScrollInfo(wnd_, SB_HORZ, &si, TRUE);
  inScrollUpdate_ = false;
  PlaceEditor();
  InvalidateRect(wnd_, nullptr, FALSE);
}

void StringGrid::ScrollTo(int topRow, int scrollX) {
  SIZE client = ClientSize();
  topRow = std::clamp(topRow, geo_.fixedRows, MaxTopRow(geo_, client.cy));
  scrollX = std::clamp(scrollX, 0, std::max(0, geo_.TotalWidth() - static_cast<int>(client.cx)));
  if (topRow == geo_.topRow && scrollX == geo_.scrollX) return;
  hintCell_.reset();
  geo_.topRow = topRow;
  geo_.scrollX = scrollX;
  SetScrollPos(wnd_, SB_VERT, topRow, TRUE);
  SetScrollPos(wnd_, SB_HORZ, scrollX, TRUE);
  PlaceEditor();
  InvalidateRect(wnd_, nullptr, FALSE);
}

void StringGrid::ShowCell(GridCell cell) {
  SIZE client = ClientSize();
  int scrollX = geo_.scrollX;
  const int left = cell.col * geo_.ColExtent();
  if (left < scrollX)
    scrollX = left;
  else if (left + geo_.ColExtent() > scrollX + client.cx)
    scrollX = std::min(left, left + geo_.ColExtent() - static_cast<int>(client.cx));
  ScrollTo(TopRowToShow(geo_, client.cy, cell.row), scrollX);
}

void StringGrid::PaintCell(HDC dc, GridCell cell, const RECT &rc, bool focused) {
  const bool header = cell.row < geo_.fixedRows;
  const bool isCurrent = cell == current_;
  const bool selected = !header && RangeContains(Selection(), cell) && !(isCurrent && focused);
  RECT full{rc.left, rc.top, rc.right + geo_.lineWidth, rc.bottom + geo_.lineWidth};
  if (header) {
    FillRect(dc, &full, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(dc, &full, BDR_RAISEDINNER, BF_RECT);
  } else {
    FillRect(dc, &rc, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    RECT right{rc.right, rc.top, full.right, full.bottom};
    RECT bottom{rc.left, rc.bottom, full.right, full.bottom};
    FillRect(dc, &right, GetSysColorBrush(COLOR_BTNFACE));
    FillRect(dc, &bottom, GetSysColorBrush(COLOR_BTNFACE));
  }
  const bool hideText = editing_ && cell == editCell_;
  if (!hideText) {
    SetTextColor(dc, GetSysColor(header ? COLOR_BTNTEXT : selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    RECT text{rc.left + kTextInset, rc.top, rc.right - kTextInset, rc.bottom};
    const std::string &value = rows_[static_cast<size_t>(cell.row)][static_cast<size_t>(cell.col)];
    DrawTextA(dc, value.c_str(), static_cast<int>(value.size()), &text,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  }
  if (isCurrent && focused && !editing_) {
    RECT focus = rc;
    DrawFocusRect(dc, &focus);
  }
}

void StringGrid::Paint(HDC target) {
  SIZE client = ClientSize();
  if (client.cx <= 0 || client.cy <= 0) return;
  // Drawn off screen first so scrolling and selecting do not flicker.
  HDC dc = CreateCompatibleDC(target);
  HBITMAP bitmap = CreateCompatibleBitmap(target, client.cx, client.cy);
  HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
  HGDIOBJ oldFont = SelectObject(dc, font_ ? font_ : GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(dc, TRANSPARENT);
  RECT all{0, 0, client.cx, client.cy};
  FillRect(dc, &all, GetSysColorBrush(COLOR_WINDOW));

  const bool focused = GetFocus() == wnd_;
  std::vector<int> shownRows;
  for (int row = 0; row < std::min(geo_.fixedRows, geo_.rowCount); ++row)
    shownRows.push_back(row);
  for (int row = geo_.topRow; row < geo_.rowCount; ++row) {
    if (CellOrigin(geo_, {0, row}, client.cy).y >= client.cy) break;
    shownRows.push_back(row);
  }
  // Ordinary rows first, so a partly hidden row never paints over the header.
  std::reverse(shownRows.begin(), shownRows.end());
  for (int row : shownRows) {
    for (int col = 0; col < kGridColumns; ++col)
      PaintCell(dc, {col, row}, CellRect({col, row}), focused);
  }
  BitBlt(target, 0, 0, client.cx, client.cy, dc, 0, 0, SRCCOPY);
  SelectObject(dc, oldFont);
  SelectObject(dc, oldBitmap);
  DeleteObject(bitmap);
  DeleteDC(dc);
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
    if (CanEdit(current_)) BeginEdit(rows_[current_.row][current_.col], true);
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
    BeginEdit(rows_[cell->row][cell->col], true);
    return;
  }
  MoveTo(*cell, false);
  dragging_ = true;
  SetCapture(wnd_);
}

// The hint is a window of its own that nobody sees before the mouse rests on
// the grid: it is made once the grid's window is up (a message the grid posts
// itself at its creation), or earlier when asked for.
void StringGrid::CreateHint() {
  if (hint_) return;
  auto *instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(wnd_, GWLP_HINSTANCE));
  hint_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                          CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, wnd_, nullptr, instance, nullptr);
  if (!hint_) return;
  TTTOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.uFlags = TTF_SUBCLASS;
  tool.hwnd = wnd_;
  tool.uId = 1;
  tool.lpszText = const_cast<char *>("");
  SendMessageA(hint_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

bool StringGrid::TextIsCut(GridCell cell) const {
  const std::string &value = rows_[static_cast<size_t>(cell.row)][static_cast<size_t>(cell.col)];
  if (value.empty()) return false;
  HDC dc = GetDC(wnd_);
  HGDIOBJ old = font_ ? SelectObject(dc, font_) : nullptr;
  SIZE extent{};
  GetTextExtentPoint32A(dc, value.c_str(), static_cast<int>(value.size()), &extent);
  if (old) SelectObject(dc, old);
  ReleaseDC(wnd_, dc);
  return extent.cx > geo_.colWidth - 2 * kTextInset;
}

// One hint for the whole grid, moved to the cell under the pointer and given
// its text only when the column cuts it, so whole texts show no hint.
void StringGrid::FollowHover(POINT point) {
  CreateHint();
  if (!hint_) return;
  const std::optional<GridCell> cell = CellFromPoint(geo_, point.x, point.y);
  if (cell == hintCell_) return;
  hintCell_ = cell;
  SendMessageA(hint_, TTM_POP, 0, 0);
  TTTOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.hwnd = wnd_;
  tool.uId = 1;
  std::string text;
  if (cell && TextIsCut(*cell)) {
    tool.rect = CellRect(*cell);
    text = rows_[static_cast<size_t>(cell->row)][static_cast<size_t>(cell->col)];
  }
  SendMessageA(hint_, TTM_NEWTOOLRECTA, 0, reinterpret_cast<LPARAM>(&tool));
  tool.lpszText = text.data();
  SendMessageA(hint_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
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

void StringGrid::OnScroll(int bar, int code) {
  SCROLLINFO si{sizeof(si), SIF_ALL, 0, 0, 0, 0, 0};
  GetScrollInfo(wnd_, bar, &si);
  const int page = static_cast<int>(si.nPage);
  const int line = bar == SB_VERT ? 1 : kLinePixels;
  int pos = si.nPos;
  switch (code) {
  case SB_LINEUP:
    pos -= line;
    break;
  case SB_LINEDOWN:
    pos += line;
    break;
  case SB_PAGEUP:
    pos -= page;
    break;
  case SB_PAGEDOWN:
    pos += page;
    break;
  case SB_THUMBTRACK:
  case SB_THUMBPOSITION:
    pos = si.nTrackPos;
    break;
  case SB_TOP:
    pos = si.nMin;
    break;
  case SB_BOTTOM:
    pos = si.nMax;
    break;
  default:
    return;
  }
  if (bar == SB_VERT)
    ScrollTo(pos, geo_.scrollX);
  else
    ScrollTo(geo_.topRow, pos);
}

void StringGrid::SetRowCount(int count) {
  EndEdit(true, true);
  ResizeRows(rows_, count);
  geo_.rowCount = static_cast<int>(rows_.size());
  hintCell_.reset();
  // A current cell in a dropped row moves to the new last row.
  anchor_.row = std::clamp(anchor_.row, FirstRow(), geo_.rowCount - 1);
  current_.row = std::clamp(current_.row, FirstRow(), geo_.rowCount - 1);
  UpdateScrollBars();
}

LRESULT StringGrid::GetCellText(WPARAM wp, char *buffer) const {
  GridCell cell{LOWORD(wp), HIWORD(wp)};
  if (!CellExists(cell)) return -1;
  const std::string &text = rows_[cell.row][cell.col];
  if (buffer) std::copy(text.c_str(), text.c_str() + text.size() + 1, buffer);
  return static_cast<LRESULT>(text.size());
}

LRESULT StringGrid::SetCellText(WPARAM wp, const char *text) {
  GridCell cell{LOWORD(wp), HIWORD(wp)};
  if (!CellExists(cell)) return FALSE;
  rows_[cell.row][cell.col] = text ? text : "";
  hintCell_.reset();
  InvalidateRect(wnd_, nullptr, FALSE);
  return TRUE;
}

LRESULT StringGrid::SetSelection(const RECT *range) {
  if (!range) return FALSE;
  GridCell topLeft{range->left, range->top};
  GridCell bottomRight{range->right, range->bottom};
  if (!CellExists(topLeft) || !CellExists(bottomRight) || topLeft.col > bottomRight.col ||
      topLeft.row > bottomRight.row)
    return FALSE;
  EndEdit(true, true);
  current_ = topLeft;
  anchor_ = bottomRight;
  ShowCell(current_);
  InvalidateRect(wnd_, nullptr, FALSE);
  return TRUE;
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
    std::string &cell = rows_[editCell_.row][editCell_.col];
    changed = cell != text;
    cell = std::move(text);
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

LRESULT StringGrid::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
  case WM_NCCREATE:
    // Like the standard grid: a tab stop with a sunken edge.
    SetWindowLongA(wnd_, GWL_STYLE, GetWindowLongA(wnd_, GWL_STYLE) | WS_TABSTOP);
    SetWindowLongA(wnd_, GWL_EXSTYLE, GetWindowLongA(wnd_, GWL_EXSTYLE) | WS_EX_CLIENTEDGE);
    return DefWindowProcA(wnd_, msg, wp, lp);
  case WM_CREATE:
    UpdateScrollBars();
    PostMessageA(wnd_, kCreateHintMessage, 0, 0);
    return 0;
  case kCreateHintMessage:
    CreateHint();
    return 0;
  case WM_SIZE:
    UpdateScrollBars();
    return 0;
  case WM_ERASEBKGND:
    return 1;
  case WM_PAINT: {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(wnd_, &ps);
    Paint(dc);
    EndPaint(wnd_, &ps);
    return 0;
  }
  case WM_SETFONT:
    font_ = reinterpret_cast<HFONT>(wp);
    if (editor_) SendMessageA(editor_, WM_SETFONT, wp, FALSE);
    if (LOWORD(lp)) InvalidateRect(wnd_, nullptr, FALSE);
    return 0;
  case WM_GETFONT:
    return reinterpret_cast<LRESULT>(font_);
  case WM_SETFOCUS:
  case WM_KILLFOCUS:
    InvalidateRect(wnd_, nullptr, FALSE);
    return 0;
  case WM_GETDLGCODE:
    return DLGC_WANTARROWS | DLGC_WANTCHARS;
  case WM_KEYDOWN:
    OnKeyDown(wp);
    return 0;
  case WM_CHAR:
    OnChar(wp);
    return 0;
  case WM_LBUTTONDOWN:
  case WM_RBUTTONDOWN:
  case WM_MBUTTONDOWN:
    OnButtonDown(msg, lp);
    return 0;
  case WM_MOUSEMOVE:
    OnMouseMove(lp);
    return 0;
  case WM_LBUTTONUP:
    if (dragging_) {
      dragging_ = false;
      ReleaseCapture();
    }
    return 0;
  case WM_CAPTURECHANGED:
    dragging_ = false;
    return 0;
  case WM_CONTEXTMENU:
    OnContextMenu(lp);
    return 0;
  case WM_VSCROLL:
    OnScroll(SB_VERT, LOWORD(wp));
    return 0;
  case WM_HSCROLL:
    OnScroll(SB_HORZ, LOWORD(wp));
    return 0;
  case WM_MOUSEWHEEL: {
    const int notches = GET_WHEEL_DELTA_WPARAM(wp) / WHEEL_DELTA;
    ScrollTo(geo_.topRow - notches * kWheelRows, geo_.scrollX);
    return 0;
  }
  case SGM_GETROWCOUNT:
    return geo_.rowCount;
  case SGM_SETROWCOUNT:
    SetRowCount(static_cast<int>(std::min<WPARAM>(wp, 0x7fffffff)));
    return TRUE;
  case SGM_GETCELLTEXT:
    return GetCellText(wp, reinterpret_cast<char *>(lp));
  case SGM_SETCELLTEXT:
    return SetCellText(wp, reinterpret_cast<const char *>(lp));
  case SGM_CELLFROMPOINT: {
    std::optional<GridCell> cell = CellFromPoint(geo_, GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
    return cell ? static_cast<LRESULT>(MAKELRESULT(cell->col, cell->row)) : -1;
  }
  case SGM_GETSELECTION: {
    auto *out = reinterpret_cast<RECT *>(lp);
    if (!out) return FALSE;
    GridRange range = Selection();
    *out = RECT{range.left, range.top, range.right, range.bottom};
    return TRUE;
  }
  case SGM_SETSELECTION:
    return SetSelection(reinterpret_cast<const RECT *>(lp));
  case SGM_ISEDITING:
    return editing_ ? TRUE : FALSE;
  case SGM_GETCURRENTCELL:
    return static_cast<LRESULT>(MAKELRESULT(current_.col, current_.row));
  case SGM_GETEDITOR:
    return editing_ ? reinterpret_cast<LRESULT>(editor_) : 0;
  case SGM_GETHINT:
    CreateHint();
    return reinterpret_cast<LRESULT>(hint_);
  default:
    break;
  }
  return DefWindowProcA(wnd_, msg, wp, lp);
}

} // namespace

bool RegisterStringGridClass(HINSTANCE instance) {
  WNDCLASSA wc = StringGrid::Record(instance);
  wc.hbrBackground = nullptr;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  return RegisterClassOnce(wc);
}

} // namespace qm::win
