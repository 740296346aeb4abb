#include "win/grid_model.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "codec/decoder.h"
#include "codec/encoder.h"

namespace qm::win {
namespace {

std::vector<GridRow> Rows(int count) {
  std::vector<GridRow> rows;
  for (int i = 0; i < count; ++i)
    rows.push_back({GridText{"k" + std::to_string(i), {}}, GridText{"v" + std::to_string(i), {}}});
  return rows;
}

std::vector<std::string> Keys(const std::vector<GridRow> &rows) {
  std::vector<std::string> keys;
  for (const GridRow &row : rows)
    keys.push_back(row[0].shown);
  return keys;
}

struct PointCase {
  const char *name;
  int topRow;
  int scrollX;
  int x;
  int y;
  std::optional<GridCell> expected;
};

class CellFromPointTest : public testing::TestWithParam<PointCase> {};

TEST_P(CellFromPointTest, FindsTheCellUnderThePoint) {
  const PointCase &c = GetParam();
  GridGeometry g; // 180 x 18 cells, 1-pixel lines, one fixed row, six rows
  g.rowCount = 8;
  g.topRow = c.topRow;
  g.scrollX = c.scrollX;
  EXPECT_EQ(CellFromPoint(g, c.x, c.y), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Points, CellFromPointTest,
                         testing::Values(PointCase{"HeaderKey", 1, 0, 5, 5, GridCell{0, 0}},
                                         PointCase{"HeaderValue", 1, 0, 200, 17, GridCell{1, 0}},
                                         PointCase{"LineBelowHeader", 1, 0, 5, 18, GridCell{0, 0}},
                                         PointCase{"FirstEntry", 1, 0, 0, 19, GridCell{0, 1}},
                                         PointCase{"LineBetweenColumns", 1, 0, 180, 40, GridCell{0, 2}},
                                         PointCase{"RightAfterColumnLine", 1, 0, 181, 40, GridCell{1, 2}},
                                         PointCase{"LastPixelOfLastColumn", 1, 0, 361, 40, GridCell{1, 2}},
                                         PointCase{"RightOfLastColumn", 1, 0, 362, 40, std::nullopt},
                                         PointCase{"LastRow", 1, 0, 10, 19 * 7 + 18, GridCell{0, 7}},
                                         PointCase{"BelowLastRow", 1, 0, 10, 19 * 8, std::nullopt},
                                         PointCase{"ScrolledDownHeaderStays", 3, 0, 10, 10, GridCell{0, 0}},
                                         PointCase{"ScrolledDownFirstShown", 3, 0, 10, 20, GridCell{0, 3}},
                                         PointCase{"ScrolledDownBelowLast", 3, 0, 10, 19 * 6, std::nullopt},
                                         PointCase{"ScrolledRight", 1, 30, 160, 20, GridCell{1, 1}},
                                         PointCase{"NegativePoint", 1, 0, -1, 5, std::nullopt}),
                         [](const testing::TestParamInfo<PointCase> &info) { return std::string(info.param.name); });

TEST(CellOrigin, FollowsScrollingAndKeepsTheHeaderInPlace) {
  GridGeometry g;
  g.rowCount = 12;
  g.topRow = 4;
  g.scrollX = 7;
  CellPlace header = CellOrigin(g, {1, 0}, 117);
  EXPECT_EQ(header.x, 181 - 7);
  EXPECT_EQ(header.y, 0);
  EXPECT_TRUE(header.visible);
  CellPlace first = CellOrigin(g, {0, 4}, 117);
  EXPECT_EQ(first.y, 19);
  EXPECT_TRUE(first.visible);
  EXPECT_FALSE(CellOrigin(g, {0, 3}, 117).visible);  // scrolled away above
  EXPECT_TRUE(CellOrigin(g, {0, 9}, 117).visible);   // partly shown at the bottom
  EXPECT_FALSE(CellOrigin(g, {0, 10}, 117).visible); // below the client area
}

struct ScrollCase {
  int rowCount;
  int clientHeight;
  int visibleRows;
  int maxTopRow;
};

class ScrollRangeTest : public testing::TestWithParam<ScrollCase> {};

TEST_P(ScrollRangeTest, CountsWholeRows) {
  GridGeometry g;
  g.rowCount = GetParam().rowCount;
  EXPECT_EQ(VisibleRows(g, GetParam().clientHeight), GetParam().visibleRows);
  EXPECT_EQ(MaxTopRow(g, GetParam().clientHeight), GetParam().maxTopRow);
}

// 117 is the client height of the editor's grid: header plus five entries fit.
INSTANTIATE_TEST_SUITE_P(Heights, ScrollRangeTest,
                         testing::Values(ScrollCase{6, 117, 5, 1}, ScrollCase{7, 117, 5, 2}, ScrollCase{20, 117, 5, 15},
                                         ScrollCase{2, 117, 5, 1}, ScrollCase{1, 117, 5, 1}, ScrollCase{7, 10, 1, 6}));

TEST(TopRowToShow, ScrollsOnlyAsFarAsNeeded) {
  GridGeometry g;
  g.rowCount = 20;
  g.topRow = 5;
  EXPECT_EQ(TopRowToShow(g, 117, 7), 5);  // already shown
  EXPECT_EQ(TopRowToShow(g, 117, 3), 3);  // above: becomes the top row
  EXPECT_EQ(TopRowToShow(g, 117, 12), 8); // below: becomes the bottom row
  EXPECT_EQ(TopRowToShow(g, 117, 0), 5);  // the header is always shown
}

TEST(NearestOrdinaryCell, ClampsToTheGridsEdges) {
  GridGeometry g;
  g.rowCount = 20;
  g.topRow = 3;
  EXPECT_EQ(NearestOrdinaryCell(g, 10, 25, 117), (GridCell{0, 3}));
  EXPECT_EQ(NearestOrdinaryCell(g, -50, -50, 117), (GridCell{0, 3})); // above: the top shown row
  EXPECT_EQ(NearestOrdinaryCell(g, 900, 40, 117), (GridCell{1, 4}));  // right of the last column
  EXPECT_EQ(NearestOrdinaryCell(g, 200, 500, 117), (GridCell{1, 8})); // below: the bottom shown row
  g.rowCount = 5;
  g.topRow = 1;
  EXPECT_EQ(NearestOrdinaryCell(g, 10, 110, 117), (GridCell{0, 4})); // below the last row
}

TEST(NormaliseRange, AnyCornerOrder) {
  const GridRange expected{0, 2, 1, 5};
  EXPECT_EQ(NormaliseRange({0, 2}, {1, 5}), expected);
  EXPECT_EQ(NormaliseRange({1, 5}, {0, 2}), expected);
  EXPECT_EQ(NormaliseRange({1, 2}, {0, 5}), expected);
  EXPECT_EQ(NormaliseRange({0, 5}, {1, 2}), expected);
  EXPECT_TRUE(RangeContains(expected, {1, 3}));
  EXPECT_FALSE(RangeContains(expected, {1, 6}));
  EXPECT_FALSE(RangeContains(expected, {0, 1}));
}

TEST(ResizeRows, KeepsRemainingTexts) {
  std::vector<GridRow> rows = Rows(6);
  ResizeRows(rows, 2);
  EXPECT_EQ(Keys(rows), (std::vector<std::string>{"k0", "k1"}));
  EXPECT_EQ(rows[1][1].shown, "v1");
  ResizeRows(rows, 4);
  EXPECT_EQ(Keys(rows), (std::vector<std::string>{"k0", "k1", "", ""}));
  EXPECT_EQ(rows[3][1].shown, "");
  ResizeRows(rows, 0);
  EXPECT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].shown, "k0");
}

struct RemoveCase {
  const char *name;
  int count;
  int row;
  bool ok;
  std::vector<std::string> keys;
};

class RemoveRowTest : public testing::TestWithParam<RemoveCase> {};

TEST_P(RemoveRowTest, MovesLaterRowsUp) {
  const RemoveCase &c = GetParam();
  std::vector<GridRow> rows = Rows(c.count);
  EXPECT_EQ(RemoveRow(rows, c.row), c.ok);
  EXPECT_EQ(Keys(rows), c.keys);
  // Values travel with their keys.
  for (const GridRow &row : rows) {
    if (!row[0].shown.empty()) {
      EXPECT_EQ(row[1].shown, "v" + row[0].shown.substr(1));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, RemoveRowTest,
                         testing::Values(RemoveCase{"Middle", 6, 2, true, {"k0", "k1", "k3", "k4", "k5"}},
                                         RemoveCase{"First", 6, 1, true, {"k0", "k2", "k3", "k4", "k5"}},
                                         RemoveCase{"Last", 6, 5, true, {"k0", "k1", "k2", "k3", "k4"}},
                                         RemoveCase{"Header", 3, 0, true, {"k1", "k2"}},
                                         RemoveCase{"OnlyEntry", 2, 1, true, {"k0"}},
                                         RemoveCase{"OnlyHeaderIsEmptied", 1, 0, true, {""}},
                                         RemoveCase{"Negative", 6, -1, false, {"k0", "k1", "k2", "k3", "k4", "k5"}},
                                         RemoveCase{"PastEnd", 6, 6, false, {"k0", "k1", "k2", "k3", "k4", "k5"}}),
                         [](const testing::TestParamInfo<RemoveCase> &info) { return std::string(info.param.name); });

// On an 8-bit code page (Windows-1252 here) a block's strings go through
// the grid and a save: untouched, every one comes back as it was read,
// whatever the grid could show; an edited one is what was typed.
TEST(GridText, ASaveWritesWhatWasReadUnlessTheCellWasEdited) {
  const Windows1252Codec codec;
  const std::u16string half = std::u16string(u"half ") + char16_t(0xDC00);
  const std::vector<StringRowUtf16> read = {{u"CompanyName", u"版本测试"}, {u"ProductName", u"αβγδ"},
                                            {u"Comments", u"Quill 🪶"},  {u"说明", u"plain"},
                                            {u"LegalCopyright", u"©2024"}, {u"Broken", half}};
  const bool keptExpected[][2] = {{false, true}, {false, true},  {false, true},
                                  {true, false}, {false, false}, {false, true}};
  VersionFields fields;
  fields.LanguageText = "0409";
  fields.CodePageText = "1200";
  const auto block = EncodeVersionBlock(fields, read);
  ASSERT_TRUE(block.ok()) << block.error();

  std::vector<GridRow> rows(1);
  for (const DecodedString &entry : DecodeVersionBlock(*block).Strings) {
    GridRow row;
    const size_t at = rows.size() - 1;
    EXPECT_EQ(SetFromUtf16(row[0], entry.Key, codec), keptExpected[at][0]) << at;
    EXPECT_EQ(SetFromUtf16(row[1], entry.Value, codec), keptExpected[at][1]) << at;
    rows.push_back(std::move(row));
  }
  EXPECT_EQ(rows[2][1].shown, "????") << "what the grid shows";
  const auto save = [&] {
    std::vector<StringRowUtf16> saved;
    for (size_t i = 1; i < rows.size(); ++i)
      saved.push_back({TextToSave(rows[i][0], codec), TextToSave(rows[i][1], codec)});
    return saved;
  };
  const auto again = EncodeVersionBlock(fields, save());
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(*again, *block);

  // Rows that move keep their texts; the program setting the same text, or
  // an edit that changes nothing, keeps them too.
  ASSERT_TRUE(RemoveRow(rows, 4));
  SetShown(rows[1][1], rows[1][1].shown);
  // Typed texts win: "??" typed over a kept Greek value, a value typed anew.
  SetShown(rows[2][1], "??");
  SetShown(rows[3][1], "\xE9t\xE9");
  const std::vector<StringRowUtf16> saved = save();
  ASSERT_EQ(saved.size(), 5u);
  EXPECT_EQ(saved[0].Value, u"版本测试");
  EXPECT_EQ(saved[1].Value, u"??");
  EXPECT_EQ(saved[2].Value, u"été");
  EXPECT_EQ(saved[3].Key, u"LegalCopyright");
  EXPECT_EQ(saved[4].Value, half);
}

} // namespace
} // namespace qm::win
