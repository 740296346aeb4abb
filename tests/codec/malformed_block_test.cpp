// Blocks whose lengths are odd or too short: each reader must stay inside
// the node a length gives it, whatever bytes follow.
#include <gtest/gtest.h>

#include <functional>

#include "block_builder.h"
#include "codec/decoder.h"
#include "codec/version_info_reader.h"

namespace qm {
namespace {

using test::Bytes;

std::vector<DecodedString> Strings(std::initializer_list<DecodedString> strings) { return strings; }

// VarFileInfo first, then the rows One=1, Two=22, Three=333: the third entry
// is at 264 (28 bytes), its value "333" at 284 and the value's terminator
// at 290, the last unit of the block.
Bytes ThreeRowsVarFirst() {
  Bytes three = test::Encode(test::BasicFields(), {{u"One", u"1"}, {u"Two", u"22"}, {u"Three", u"333"}});
  return test::WithChildren(three, {test::VarPart(three), test::StringPart(three)});
}

struct OddEntry {
  const char *name;
  std::function<void(Bytes &)> change;
  std::vector<DecodedString> strings;
};
class OddLengthEntries : public testing::TestWithParam<OddEntry> {};
TEST_P(OddLengthEntries, ValueEndsWithTheLastWholeUnitOfItsEntry) {
  Bytes block = ThreeRowsVarFirst();
  ASSERT_EQ(block.size(), 292u);
  ASSERT_EQ(test::Units(block, 284, 4), std::u16string(u"333\0", 4));
  GetParam().change(block);
  EXPECT_EQ(DecodeVersionBlock(block).Strings, GetParam().strings);
}
INSTANTIATE_TEST_SUITE_P(Table, OddLengthEntries,
                         testing::Values(
                             // 27 bytes leave one byte of the last unit inside the entry; the
                             // unit that would take one byte past it is not part of the value.
                             OddEntry{"UnterminatedValueDoesNotReadPastItsEntry",
                                      [](Bytes &b) {
                                        PutU16(b, 264, 27);
                                        PutU16(b, 290, u'x');
                                      },
                                      Strings({{u"One", u"1"}, {u"Two", u"22"}, {u"Three", u"333"}})},
                             OddEntry{"OddLengthCutsTheValueAtAWholeUnit", [](Bytes &b) { PutU16(b, 264, 25); },
                                      Strings({{u"One", u"1"}, {u"Two", u"22"}, {u"Three", u"33"}})},
                             // The value would start at 284, where the entry already ends; the next
                             // entry is read from there: the value's units give a length of 51 and an
                             // empty key, and the table ends after it.
                             OddEntry{"EntryEndingBeforeItsValueHasNone", [](Bytes &b) { PutU16(b, 264, 20); },
                                      Strings({{u"One", u"1"}, {u"Two", u"22"}, {u"Three", u""}, {u"", u""}})},
                             OddEntry{"ValueStartingOneUnitBeforeTheEnd", [](Bytes &b) { PutU16(b, 264, 22); },
                                      Strings({{u"One", u"1"}, {u"Two", u"22"}, {u"Three", u"3"}})}),
                         [](const testing::TestParamInfo<OddEntry> &info) { return info.param.name; });

// A root whose value (the fixed part) is given by its length field: 52
// bytes or none; anything between is refused, since the fields would be
// read past the value.
struct FixedCase {
  const char *name;
  std::uint16_t valueLength;
  std::size_t blockSize; // the block cut to this size, its length patched
  bool accepted;
};
class FixedPartLength : public testing::TestWithParam<FixedCase> {};
TEST_P(FixedPartLength, OnlyAWholeFixedPartIsRead) {
  const FixedCase &c = GetParam();
  Bytes block = test::Encode(test::BasicFields());
  block.resize(c.blockSize);
  PutU16(block, 0, static_cast<std::uint16_t>(block.size()));
  PutU16(block, 2, c.valueLength);
  Result<VersionInfo> info = ReadVersionInfo(block);
  ASSERT_EQ(info.ok(), c.accepted) << (info ? std::string("accepted") : info.error());
  if (info) {
    EXPECT_TRUE(info->HasFixedPart);
    EXPECT_EQ(info->Fixed.StrucVersion, 0x00010000u);
  } else {
    EXPECT_EQ(info.error(), "VS_VERSION_INFO: fixed part of " + std::to_string(c.valueLength) + " bytes does not fit");
  }
}
INSTANTIATE_TEST_SUITE_P(Table, FixedPartLength,
                         testing::Values(FixedCase{"WholeFixedPartFillingTheBlock", 52, 92, true},
                                         FixedCase{"OneByteShortIsRefused", 51, 92, false},
                                         FixedCase{"SignatureOnlyIsRefused", 4, 92, false},
                                         // A block that ends right after a short value: the fields
                                         // beyond it are not there at all.
                                         FixedCase{"ShortValueAtTheEndOfTheBlockIsRefused", 4, 44, false},
                                         FixedCase{"LongerThanItsNodeIsRefused", 56, 92, false}),
                         [](const testing::TestParamInfo<FixedCase> &info) { return info.param.name; });

TEST(FixedPartLength, NoFixedPartStillReadsTheChildren) {
  Bytes three = test::Encode(test::BasicFields(), {{u"One", u"1"}});
  Bytes block = test::Child(u"VS_VERSION_INFO", 0, 0, {}, test::StringPart(three));
  Result<VersionInfo> info = ReadVersionInfo(block);
  ASSERT_TRUE(info) << info.error();
  EXPECT_FALSE(info->HasFixedPart);
  ASSERT_EQ(info->Tables.size(), 1u);
  EXPECT_EQ(info->Tables[0].Strings, Strings({{u"One", u"1"}}));
}

// Fewer than the six bytes of a node header: named as such, whatever the
// first word says.
TEST(FixedPartLength, TruncatedRootHeaderIsNamed) {
  for (std::size_t size : {0, 1, 2, 5}) {
    Bytes block = {0x5C, 0x01, 0x34, 0x00, 0x00};
    block.resize(size);
    Result<VersionInfo> info = ReadVersionInfo(block);
    ASSERT_FALSE(info) << size;
    EXPECT_EQ(info.error(), "version block: truncated node header at offset 0") << size;
  }
}

} // namespace
} // namespace qm
