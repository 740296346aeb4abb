#pragma once
// The string grid's arithmetic and row handling, free of any window, so it
// can be tested on any platform. The window class in string_grid.cpp only
// draws, scrolls and routes input through these functions.
#include <array>
#include <optional>
#include <string>
#include <vector>

namespace qm::win {

inline constexpr int kGridColumns = 2;

// One row of the grid: column 0 the key, column 1 the value.
using GridRow = std::array<std::string, kGridColumns>;

struct GridCell {
  int col = 0;
  int row = 0;
  friend bool operator==(const GridCell &, const GridCell &) = default;
};

// A rectangle of cells, bounds included.
struct GridRange {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  friend bool operator==(const GridRange &, const GridRange &) = default;
};

// What the grid looks like on screen, in device pixels. A cell owns the line
// to its right and the line below it, so every pixel of the grid's area maps
// to exactly one cell.
struct GridGeometry {
  int colWidth = 180;
  int rowHeight = 18;
  int lineWidth = 1;
  int fixedRows = 1;
  int rowCount = 6;
  int topRow = 1;  // first ordinary row shown under the fixed rows
  int scrollX = 0; // pixels the columns are scrolled to the left

  int ColExtent() const { return colWidth + lineWidth; }
  int RowExtent() const { return rowHeight + lineWidth; }
  // Pixels all columns take, lines included.
  int TotalWidth() const { return kGridColumns * ColExtent(); }
  // Pixels the fixed rows take at the top.
  int FixedHeight() const;
};

// The cell under a client point, or nothing where no cell is (right of the
// last column, below the last row, or left of / above the grid).
std::optional<GridCell> CellFromPoint(const GridGeometry &geometry, int x, int y);

// The cell nearest to a client point among the ordinary rows, for dragging a
// selection past the grid's edges. Needs at least one ordinary row.
GridCell NearestOrdinaryCell(const GridGeometry &geometry, int x, int y, int clientHeight);

// Top-left client pixel of a cell as currently scrolled, and whether any of
// it shows between the fixed rows and the given client height.
struct CellPlace {
  int x = 0;
  int y = 0;
  bool visible = false;
};
CellPlace CellOrigin(const GridGeometry &geometry, GridCell cell, int clientHeight);

// Ordinary rows that fit whole below the fixed rows in the given height (at least 1).
int VisibleRows(const GridGeometry &geometry, int clientHeight);
// The largest sensible top row so that the last row is shown whole.
int MaxTopRow(const GridGeometry &geometry, int clientHeight);
// The top row after scrolling just enough for the row to be seen whole.
int TopRowToShow(const GridGeometry &geometry, int clientHeight, int row);

// The rectangle spanned by two corner cells, in either order.
GridRange NormaliseRange(GridCell anchor, GridCell current);
bool RangeContains(const GridRange &range, GridCell cell);

// Grows with empty rows at the end or drops the last rows; the texts of the
// rows that remain are kept. Never below one row (the header).
void ResizeRows(std::vector<GridRow> &rows, int count);

// Removes one row the way the editor does: the rows below move up by one and
// the table loses its last row. False, and no change, when the row does not exist.
bool RemoveRow(std::vector<GridRow> &rows, int row);

} // namespace qm::win
