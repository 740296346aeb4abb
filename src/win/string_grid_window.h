#pragma once
// The string grid's window, shared by the files that make it up: the grid's
// messages (string_grid.cpp), its painting, scrolling and hint
// (string_grid_paint.cpp), and its keyboard, mouse and in-place editor
// (string_grid_input.cpp). Only string_grid.h is for other parts.
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "win/grid_model.h"
#include "win/string_grid.h"
#include "win/window_base.h"

namespace qm::win::grid {

inline constexpr int kTextInset = 2;
inline constexpr int kWheelRows = 3;
inline constexpr int kLinePixels = 16; // one horizontal scroll-bar arrow step
inline constexpr UINT_PTR kEditorSubclass = 1;
inline constexpr UINT kCreateHintMessage = WM_APP + 0x20; // posted to itself

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
  // The SGM_ messages; nothing for any other message.
  std::optional<LRESULT> OnGridMessage(UINT msg, WPARAM wp, LPARAM lp);
  // Input, focus and scrolling; nothing for any other message.
  std::optional<LRESULT> OnInputMessage(UINT msg, WPARAM wp, LPARAM lp);
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
  // After the rows changed in number: the current cell and the anchor kept
  // inside them, the scroll bars fitted.
  void FitToRows();
  LRESULT DeleteRow(WPARAM row);
  LRESULT GetCellText(WPARAM wp, char *buffer) const;
  LRESULT SetCellText(WPARAM wp, const char *text);
  LRESULT GetCellTextUtf16(WPARAM wp, wchar_t *buffer) const;
  LRESULT SetCellTextUtf16(WPARAM wp, const wchar_t *text);
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

} // namespace qm::win::grid
