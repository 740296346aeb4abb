#pragma once
// The string grid's arithmetic and row handling, free of any window, so it
// can be tested on any platform. The window class in string_grid.cpp only
// draws, scrolls and routes input through these functions.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "codec/text_codec.h"

namespace qm::win {

inline constexpr int kGridColumns = 2;

// One cell's text. `shown` is the 8-bit text the grid shows and edits. A
// text that came in as UTF-16 and that the 8-bit code page cannot carry is
// also kept whole in `kept`, as long as the shown text stays as it was made
// from it: a string nobody edited is saved as it was read, whatever the
// grid could show of it.
struct GridText {
  std::string shown;
  std::optional<std::u16string> kept;
};

// One row of the grid: column 0 the key, column 1 the value.
using GridRow = std::array<GridText, kGridColumns>;

// Fills the cell from UTF-16 through the codec; true when the shown text
// cannot give the text back, so that the text is kept beside it.
bool SetFromUtf16(GridText &cell, std::u16string_view text, const TextCodec &codec);
// The shown text as typed or set by the program; a text that differs from
// the one shown lets go of the kept text.
void SetShown(GridText &cell, std::string text);
// What a save writes for the cell: the kept text, or the shown text converted.
std::u16string TextToSave(const GridText &cell, const TextCodec &codec);

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
