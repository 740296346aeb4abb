// The string grid's window class and its messages: the SGM_ interface of
// string_grid.h, and the window messages it hands to its painting and its
// input (string_grid_paint.cpp, string_grid_input.cpp).
#include "win/string_grid_window.h"

#include <commctrl.h>
#include <windowsx.h>

#include "win/ansi_text_codec.h"

namespace qm::win::grid {

void StringGrid::SetRowCount(int count) {
  EndEdit(true, true);
  ResizeRows(rows_, count);
  FitToRows();
}

void StringGrid::FitToRows() {
  geo_.rowCount = static_cast<int>(rows_.size());
  hintCell_.reset();
  // A current cell in a dropped row moves to the new last row.
  anchor_.row = std::clamp(anchor_.row, FirstRow(), geo_.rowCount - 1);
  current_.row = std::clamp(current_.row, FirstRow(), geo_.rowCount - 1);
  UpdateScrollBars();
}

// The current cell moves to the row first (its column kept), so an open
// editor is committed before the rows below move up.
LRESULT StringGrid::DeleteRow(WPARAM row) {
  if (row >= static_cast<WPARAM>(geo_.rowCount)) return FALSE;
  const int at = static_cast<int>(row);
  const RECT place{current_.col, at, current_.col, at};
  SetSelection(&place);
  RemoveRow(rows_, at);
  FitToRows();
  return TRUE;
}

LRESULT StringGrid::GetCellText(WPARAM wp, char *buffer) const {
  GridCell cell{LOWORD(wp), HIWORD(wp)};
  if (!CellExists(cell)) return -1;
  const std::string &text = rows_[cell.row][cell.col].shown;
  if (buffer) std::copy(text.c_str(), text.c_str() + text.size() + 1, buffer);
  return static_cast<LRESULT>(text.size());
}

LRESULT StringGrid::SetCellText(WPARAM wp, const char *text) {
  GridCell cell{LOWORD(wp), HIWORD(wp)};
  if (!CellExists(cell)) return FALSE;
  SetShown(rows_[cell.row][cell.col], text ? text : "");
  hintCell_.reset();
  InvalidateRect(wnd_, nullptr, FALSE);
  return TRUE;
}

LRESULT StringGrid::GetCellTextUtf16(WPARAM wp, wchar_t *buffer) const {
  GridCell cell{LOWORD(wp), HIWORD(wp)};
  if (!CellExists(cell)) return -1;
  const std::u16string text = TextToSave(rows_[cell.row][cell.col], AnsiTextCodec{});
  if (buffer) {
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = L'\0';
  }
  return static_cast<LRESULT>(text.size());
}

LRESULT StringGrid::SetCellTextUtf16(WPARAM wp, const wchar_t *text) {
  GridCell cell{LOWORD(wp), HIWORD(wp)};
  if (!CellExists(cell)) return SGC_NOCELL;
  const std::u16string_view wide = text ? std::u16string_view(reinterpret_cast<const char16_t *>(text)) : u"";
  const bool kept = SetFromUtf16(rows_[cell.row][cell.col], wide, AnsiTextCodec{});
  hintCell_.reset();
  InvalidateRect(wnd_, nullptr, FALSE);
  return kept ? SGC_KEPT : SGC_SHOWN;
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

std::optional<LRESULT> StringGrid::OnGridMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
  case SGM_GETROWCOUNT:
    return geo_.rowCount;
  case SGM_SETROWCOUNT:
    SetRowCount(static_cast<int>(std::min<WPARAM>(wp, 0x7fffffff)));
    return TRUE;
  case SGM_DELETEROW:
    return DeleteRow(wp);
  case SGM_GETCELLTEXT:
    return GetCellText(wp, reinterpret_cast<char *>(lp));
  case SGM_SETCELLTEXT:
    return SetCellText(wp, reinterpret_cast<const char *>(lp));
  case SGM_GETCELLTEXTW:
    return GetCellTextUtf16(wp, reinterpret_cast<wchar_t *>(lp));
  case SGM_SETCELLTEXTW:
    return SetCellTextUtf16(wp, reinterpret_cast<const wchar_t *>(lp));
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
    return std::nullopt;
  }
}

std::optional<LRESULT> StringGrid::OnInputMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
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
  case WM_MOUSEWHEEL:
    ScrollTo(geo_.topRow - GET_WHEEL_DELTA_WPARAM(wp) / WHEEL_DELTA * kWheelRows, geo_.scrollX);
    return 0;
  default:
    return std::nullopt;
  }
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
  default:
    break;
  }
  if (const std::optional<LRESULT> result = OnInputMessage(msg, wp, lp)) return *result;
  if (const std::optional<LRESULT> result = OnGridMessage(msg, wp, lp)) return *result;
  return DefWindowProcA(wnd_, msg, wp, lp);
}

} // namespace qm::win::grid

namespace qm::win {

bool RegisterStringGridClass(HINSTANCE instance) {
  WNDCLASSA wc = grid::StringGrid::Record(instance);
  wc.hbrBackground = nullptr;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  return RegisterClassOnce(wc);
}

} // namespace qm::win
