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
//   SGM_GETCELLTEXT   wParam MAKEWPARAM(col, row), lParam char* buffer (may be null)
//                                                   -> length of the text without its NUL, or
//                                                      -1 when the cell does not exist; the
//                                                      buffer must hold length + 1 bytes
//   SGM_SETCELLTEXT   wParam MAKEWPARAM(col, row), lParam const char* text
//                                                   -> TRUE, or FALSE when the cell does not exist
//   SGM_CELLFROMPOINT wParam 0, lParam MAKELPARAM(x, y) in client pixels
//                                                   -> MAKELRESULT(col, row) of the cell there,
//                                                      or -1 when no cell is there
//   SGM_GETSELECTION  wParam 0, lParam RECT* (left/right = columns, top/bottom = rows, inclusive)
//   SGM_SETSELECTION  wParam 0, lParam const RECT* (same form)
//   SGM_ISEDITING     -> TRUE while an in-place editor is open
//
// Notifications to the parent (WM_NOTIFY, NMHDR.code):
//   SGN_MOUSEDOWN  (NMSTRINGGRIDMOUSE) any mouse button pressed over the grid, before the grid
//                  acts on it; carries the button, the client point and the cell under it (-1, -1
//                  where there is none)
//   SGN_CONTEXTMENU (NMSTRINGGRIDMOUSE) right-click: the parent shows the popup menu
//   SGN_CELLCHANGED (NMSTRINGGRIDCELL) a cell's text was committed by in-place editing
//
// Texts are 8-bit text in the system's ANSI code page.
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
