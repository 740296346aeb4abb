#pragma once
// The string grid: a two-column text grid with one fixed header row, lines
// between cells, a rectangular range selection, in-place editing of ordinary
// cells, scroll bars when needed and a popup menu on a right-click.
//
// It is a window class of its own ("QmStringGrid"). Like a standard control
// it is driven by messages, so the main window, the tests and outside
// automation all use the same interface:
//
//   SGM_GETROWCOUNT   wParam 0, lParam 0            -> number of rows, header included
//   SGM_SETROWCOUNT   wParam rows (>= 1), lParam 0   -> TRUE; growing adds empty rows at the
//                                                      end, shrinking drops the last rows and
//                                                      keeps the texts of the rows that remain
//   SGM_DELETEROW     wParam row, lParam 0          -> TRUE; the rows below move up one and the
//                                                      grid loses its last row (the header alone
//                                                      is emptied, as a grid keeps one row); the
//                                                      current cell moves to that row first, its
//                                                      column kept. FALSE, nothing changed, when
//                                                      the row does not exist
//   SGM_GETCELLTEXT   wParam MAKEWPARAM(col, row), lParam char* buffer (may be null)
//                                                   -> length of the text without its NUL, or
//                                                      -1 when the cell does not exist; the
//                                                      buffer must hold length + 1 bytes
//   SGM_SETCELLTEXT   wParam MAKEWPARAM(col, row), lParam const char* text
//                                                   -> TRUE, or FALSE when the cell does not exist
//   SGM_GETCELLTEXTW  wParam MAKEWPARAM(col, row), lParam wchar_t* buffer (may be null)
//                                                   -> the cell's text as a save takes it, in
//                                                      UTF-16: the text it was set to with
//                                                      SGM_SETCELLTEXTW while the shown text is
//                                                      unchanged, else the shown text converted;
//                                                      length in UTF-16 units without the NUL, or
//                                                      -1 when the cell does not exist
//   SGM_SETCELLTEXTW  wParam MAKEWPARAM(col, row), lParam const wchar_t* text
//                                                   -> SGC_SHOWN when the 8-bit text shown holds it
//                                                      exactly; SGC_KEPT when the code page cannot
//                                                      (it shows stand-ins, and the text is kept
//                                                      whole until the cell's text is changed);
//                                                      SGC_NOCELL when the cell does not exist
//   SGM_CELLFROMPOINT wParam 0, lParam MAKELPARAM(x, y) in client pixels
//                                                   -> MAKELRESULT(col, row) of the cell there,
//                                                      or -1 when no cell is there
//   SGM_GETSELECTION  wParam 0, lParam RECT* (left/right = columns, top/bottom = rows, inclusive)
//   SGM_SETSELECTION  wParam 0, lParam const RECT* (same form)
//   SGM_ISEDITING     -> TRUE while an in-place editor is open
//   SGM_GETCURRENTCELL -> MAKELRESULT(col, row) of the current (focused) cell
//   SGM_GETEDITOR     -> the HWND of the in-place editor while one is open, else 0
//   SGM_GETHINT       -> the HWND of the tooltip that shows, over a cell whose text the
//                        column cuts (drawn ending in "..."), the whole text (tool id 1)
//
// SGM_SETSELECTION returns TRUE, or FALSE (and changes nothing) when the range
// does not lie inside the grid; its top-left cell becomes the current cell.
// Any range inside the grid is accepted, the header row too, but the header's
// cells never open an editor. Changing the row count or the selection commits
// an open editor first.
//
// The window class adds WS_TABSTOP and a sunken client edge (WS_EX_CLIENTEDGE)
// by itself, takes its font from WM_SETFONT and scales its cells (180 x 18 at
// 96 DPI) by the display's DPI.
//
// Notifications to the parent (WM_NOTIFY, NMHDR.code):
//   SGN_MOUSEDOWN  (NMSTRINGGRIDMOUSE) any mouse button pressed over the grid, before the grid
//                  acts on it; carries the button, the client point and the cell under it (-1, -1
//                  where there is none)
//   SGN_CONTEXTMENU (NMSTRINGGRIDMOUSE) right-click: the parent shows the popup menu
//   SGN_CELLCHANGED (NMSTRINGGRIDCELL) a cell's text was committed by in-place editing
//                  (sent only when the committed text differs from the old one)
// A right-click sends SGN_MOUSEDOWN on the press and SGN_CONTEXTMENU on the
// release; the context-menu key and Shift+F10 send SGN_CONTEXTMENU alone, with
// the current cell and its top-left point.
//
// Texts are 8-bit text in the system's ANSI code page, but for the two W
// messages, whose texts are UTF-16.
#include <windows.h>

namespace qm::win {

inline constexpr const char *kStringGridClass = "QmStringGrid";

enum : UINT {
  SGM_GETROWCOUNT = WM_USER + 0x100,
  SGM_SETROWCOUNT,
  SGM_GETCELLTEXT,
  SGM_SETCELLTEXT,
  SGM_CELLFROMPOINT,
  SGM_GETSELECTION,
  SGM_SETSELECTION,
  SGM_ISEDITING,
  SGM_GETCURRENTCELL,
  SGM_GETEDITOR,
  SGM_GETHINT,
  SGM_DELETEROW,
  SGM_GETCELLTEXTW,
  SGM_SETCELLTEXTW,
};

// What SGM_SETCELLTEXTW did.
enum : LRESULT {
  SGC_NOCELL = 0,
  SGC_SHOWN = 1,
  SGC_KEPT = 2,
};

enum : UINT {
  SGN_MOUSEDOWN = 0x8000u + 1,
  SGN_CONTEXTMENU,
  SGN_CELLCHANGED,
};

struct NMSTRINGGRIDMOUSE {
  NMHDR hdr;
  UINT button; // WM_LBUTTONDOWN, WM_RBUTTONDOWN or WM_MBUTTONDOWN
  POINT point; // client coordinates
  int col;     // -1 where no cell is under the point
  int row;     // -1 where no cell is under the point
};

struct NMSTRINGGRIDCELL {
  NMHDR hdr;
  int col;
  int row;
};

// Registers the window class once per process; safe to call repeatedly.
bool RegisterStringGridClass(HINSTANCE instance);

} // namespace qm::win
