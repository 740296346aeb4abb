// The string grid on screen: where its cells are, its scroll bars, its
// painting, and the hint that shows a cut text whole.
#include "win/string_grid_window.h"

#include <commctrl.h>

#include "win/ansi_text_codec.h"

namespace qm::win::grid {

namespace {

// A cell's 8-bit text as the screen shows it. The text is in the process's
// code page, but the 8-bit drawing functions convert by the font's character
// set, which knows nothing of a process in UTF-8: the text is converted here
// and drawn in UTF-16.
std::wstring Drawn(const std::string &text) {
  const std::u16string wide = AnsiTextCodec{}.ToUtf16(text);
  return std::wstring(wide.begin(), wide.end());
}

} // namespace

SIZE StringGrid::ClientSize() const {
  RECT rc{};
  GetClientRect(wnd_, &rc);
  return {rc.right, rc.bottom};
}

RECT StringGrid::CellRect(GridCell cell) const {
  CellPlace place = CellOrigin(geo_, cell, ClientSize().cy);
  return {place.x, place.y, place.x + geo_.colWidth, place.y + geo_.rowHeight};
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
    const std::wstring value = Drawn(rows_[static_cast<size_t>(cell.row)][static_cast<size_t>(cell.col)].shown);
    DrawTextW(dc, value.c_str(), static_cast<int>(value.size()), &text,
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
  const std::wstring value = Drawn(rows_[static_cast<size_t>(cell.row)][static_cast<size_t>(cell.col)].shown);
  if (value.empty()) return false;
  HDC dc = GetDC(wnd_);
  HGDIOBJ old = font_ ? SelectObject(dc, font_) : nullptr;
  SIZE extent{};
  GetTextExtentPoint32W(dc, value.c_str(), static_cast<int>(value.size()), &extent);
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
    text = rows_[static_cast<size_t>(cell->row)][static_cast<size_t>(cell->col)].shown;
  }
  SendMessageA(hint_, TTM_NEWTOOLRECTA, 0, reinterpret_cast<LPARAM>(&tool));
  tool.lpszText = text.data();
  SendMessageA(hint_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
}

} // namespace qm::win::grid
