#include "win/grid_model.h"

#include <algorithm>
#include <utility>

namespace qm::win {

bool SetFromUtf16(GridText &cell, std::u16string_view text, const TextCodec &codec) {
  cell.shown = codec.FromUtf16(text);
  if (codec.ToUtf16(cell.shown) == text) {
    cell.kept.reset();
    return false;
  }
  cell.kept.emplace(text);
  return true;
}

void SetShown(GridText &cell, std::string text) {
  if (text == cell.shown) return;
  cell.shown = std::move(text);
  cell.kept.reset();
}

std::u16string TextToSave(const GridText &cell, const TextCodec &codec) {
  return cell.kept ? *cell.kept : codec.ToUtf16(cell.shown);
}

int GridGeometry::FixedHeight() const { return fixedRows * RowExtent(); }

std::optional<GridCell> CellFromPoint(const GridGeometry &g, int x, int y) {
  if (x < 0 || y < 0 || g.ColExtent() <= 0 || g.RowExtent() <= 0) return std::nullopt;
  const int gridX = x + g.scrollX;
  const int col = gridX / g.ColExtent();
  if (col >= kGridColumns) return std::nullopt;
  int row;
  if (y < g.FixedHeight()) {
    row = y / g.RowExtent();
  } else {
    row = g.topRow + (y - g.FixedHeight()) / g.RowExtent();
  }
  if (row >= g.rowCount) return std::nullopt;
  return GridCell{col, row};
}

GridCell NearestOrdinaryCell(const GridGeometry &g, int x, int y, int clientHeight) {
  const int gridX = std::clamp(x + g.scrollX, 0, g.TotalWidth() - 1);
  const int col = std::clamp(gridX / std::max(1, g.ColExtent()), 0, kGridColumns - 1);
  const int lowest = std::max(g.FixedHeight(), clientHeight - 1);
  const int shownY = std::clamp(y, g.FixedHeight(), lowest) - g.FixedHeight();
  const int row =
      std::clamp(g.topRow + shownY / std::max(1, g.RowExtent()), g.fixedRows, std::max(g.fixedRows, g.rowCount - 1));
  return {col, row};
}

CellPlace CellOrigin(const GridGeometry &g, GridCell cell, int clientHeight) {
  CellPlace place;
  place.x = cell.col * g.ColExtent() - g.scrollX;
  if (cell.row < g.fixedRows) {
    place.y = cell.row * g.RowExtent();
    place.visible = true;
  } else {
    place.y = g.FixedHeight() + (cell.row - g.topRow) * g.RowExtent();
    place.visible = cell.row >= g.topRow && place.y < clientHeight;
  }
  return place;
}

int VisibleRows(const GridGeometry &g, int clientHeight) {
  const int room = clientHeight - g.FixedHeight();
  return std::max(1, room / std::max(1, g.RowExtent()));
}

int MaxTopRow(const GridGeometry &g, int clientHeight) {
  const int ordinary = g.rowCount - g.fixedRows;
  return g.fixedRows + std::max(0, ordinary - VisibleRows(g, clientHeight));
}

int TopRowToShow(const GridGeometry &g, int clientHeight, int row) {
  if (row < g.fixedRows) return g.topRow;
  if (row < g.topRow) return row;
  const int visible = VisibleRows(g, clientHeight);
  if (row >= g.topRow + visible) return row - visible + 1;
  return g.topRow;
}

GridRange NormaliseRange(GridCell anchor, GridCell current) {
  return {std::min(anchor.col, current.col), std::min(anchor.row, current.row), std::max(anchor.col, current.col),
          std::max(anchor.row, current.row)};
}

bool RangeContains(const GridRange &range, GridCell cell) {
  return cell.col >= range.left && cell.col <= range.right && cell.row >= range.top && cell.row <= range.bottom;
}

void ResizeRows(std::vector<GridRow> &rows, int count) { rows.resize(static_cast<size_t>(std::max(1, count))); }

bool RemoveRow(std::vector<GridRow> &rows, int row) {
  const int count = static_cast<int>(rows.size());
  if (row < 0 || row >= count) return false;
  // The rows below move up one by one and the last row, emptied, is dropped;
  // the header alone is emptied rather than dropped, as the grid keeps one row.
  for (int i = row; i + 1 < count; ++i)
    rows[i] = std::move(rows[i + 1]);
  rows[count - 1] = GridRow{};
  ResizeRows(rows, count - 1);
  return true;
}

} // namespace qm::win
