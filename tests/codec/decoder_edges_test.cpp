// Lengths that end a value or a table exactly where a unit or a header
// ends, read by the editor's decoder and by the general reader.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "block_builder.h"
#include "codec/decoder.h"
#include "codec/version_info_reader.h"

namespace qm {
namespace {

using test::Bytes;

// Rows One=1, Two=22, Three=333 after the VarFileInfo: the StringFileInfo
// starts at 160, the third entry at 264 and its value "333" at 284, its
// terminator at 290, the block's last unit.
Bytes ThreeRows() {
  Bytes three = test::Encode(test::BasicFields(), {{u"One", u"1"}, {u"Two", u"22"}, {u"Three", u"333"}});
  return test::WithChildren(three, {test::VarPart(three), test::StringPart(three)});
}

struct EdgeCase {
  const char *name;
  std::function<void(Bytes &)> change;
  std::vector<std::u16string> keys;        // the rows the decoder finds
  std::optional<std::u16string> lastValue; // the general reader's value of its last row
};
class BlockEdges : public testing::TestWithParam<EdgeCase> {};

TEST_P(BlockEdges, BothReadersStopWhereTheLengthsSay) {
  Bytes block = ThreeRows();
  ASSERT_EQ(block.size(), 292u);
  ASSERT_EQ(test::Units(block, 160 + 6, 14), u"StringFileInfo");
  GetParam().change(block);
  std::vector<std::u16string> keys;
  for (const auto &row : DecodeVersionBlock(block).Strings)
    keys.push_back(row.Key);
  EXPECT_EQ(keys, GetParam().keys);

  if (!GetParam().lastValue) return;
  Result<VersionInfo> info = ReadVersionInfo(block);
  ASSERT_TRUE(info.ok()) << info.error();
  ASSERT_EQ(info->Tables.size(), 1u);
  ASSERT_FALSE(info->Tables[0].Strings.empty());
  EXPECT_EQ(info->Tables[0].Strings.back().Value, *GetParam().lastValue);
}

INSTANTIATE_TEST_SUITE_P(Table, BlockEdges,
                         testing::Values(EdgeCase{"ValueWithoutTerminatorFillingItsEntry",
                                                  [](Bytes &b) {
                                                    PutU16(b, 264, 26); // ends right after the last '3'
                                                    PutU16(b, 290, u'x');
                                                  },
                                                  {u"One", u"Two", u"Three"},
                                                  u"333"},
                                         // A StringFileInfo too short to reach its first entry holds no rows
                                         // for the decoder, whatever follows it.
                                         EdgeCase{"StringFileInfoShorterThanItsHeaders",
                                                  [](Bytes &b) { PutU16(b, 160, 40); },
                                                  {},
                                                  std::nullopt}),
                         [](const testing::TestParamInfo<EdgeCase> &info) { return info.param.name; });

// Odd lengths, as careless writers leave them: the VarFileInfo after a
// StringFileInfo of 133 bytes is looked for at 92 + 133 + 1, and a value
// after a key that ends at an odd offset starts at the next 4-byte boundary.
TEST(BlockEdges, OddLengthsLeadToTheNextFourByteBoundary) {
  const Bytes three = test::Encode(test::BasicFields(), {{u"One", u"1"}, {u"Two", u"22"}, {u"Three", u"333"}});
  Bytes block = test::WithChildren(three, {test::StringPart(three), test::VarPart(three)});
  ASSERT_EQ(block.size(), 292u);
  block.insert(block.begin() + 92 + 132, 2, 0);
  PutU16(block, 0, static_cast<std::uint16_t>(block.size()));
  PutU16(block, 92, 133);
  // "One" claims 21 bytes, so the next entry starts at 152 + 23 = 175:
  // "K" = "V", its key ending at 185, its value at 188, then an entry of
  // length 0 at 194 ends the rows.
  PutU16(block, 152, 21);
  std::fill(block.begin() + 175, block.begin() + 196, 0);
  PutU16(block, 175, 17);
  PutU16(block, 177, 2);
  PutU16(block, 179, 1);
  PutU16(block, 181, u'K');
  PutU16(block, 188, u'V');

  const DecodedVersionBlock decoded = DecodeVersionBlock(block);
  EXPECT_TRUE(decoded.TranslationFound);
  EXPECT_EQ(decoded.Language, 0x0809);
  EXPECT_EQ(decoded.CodePage, 1252);
  std::vector<std::pair<std::u16string, std::u16string>> rows;
  for (const auto &row : decoded.Strings)
    rows.emplace_back(row.Key, row.Value);
  EXPECT_EQ(rows, (std::vector<std::pair<std::u16string, std::u16string>>{{u"One", u"1"}, {u"K", u"V"}}));
}

// Without a fixed part every fixed field reads as zero, as a caller that
// shows them regardless must find them.
TEST(BlockEdges, NoFixedPartLeavesEveryFixedFieldZero) {
  Result<VersionInfo> info = ReadVersionInfo(test::Child(u"VS_VERSION_INFO", 0, 0, {}));
  ASSERT_TRUE(info.ok()) << info.error();
  EXPECT_FALSE(info->HasFixedPart);
  const FixedFileInfo &f = info->Fixed;
  for (std::uint64_t field : {std::uint64_t{f.StrucVersion}, std::uint64_t{f.FileMajor}, std::uint64_t{f.FileMinor},
                              std::uint64_t{f.FileRelease}, std::uint64_t{f.FileBuild}, std::uint64_t{f.ProdMajor},
                              std::uint64_t{f.ProdMinor}, std::uint64_t{f.ProdRelease}, std::uint64_t{f.ProdBuild},
                              std::uint64_t{f.FlagsMask}, std::uint64_t{f.Flags}, std::uint64_t{f.FileOs},
                              std::uint64_t{f.FileType}, std::uint64_t{f.FileSubType}, f.FileDate})
    EXPECT_EQ(field, 0u);
}

} // namespace
} // namespace qm
