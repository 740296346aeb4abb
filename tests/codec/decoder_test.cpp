#include "codec/decoder.h"

#include <gtest/gtest.h>

#include <functional>

#include "block_builder.h"
#include "codec/field_codes.h"

namespace qm {

// Readable failure output for rows.
void PrintTo(const DecodedString &s, std::ostream *os) {
  *os << '{' << Utf16ToUtf8(s.Key) << '=' << Utf16ToUtf8(s.Value) << '}';
}

namespace {

using test::Bytes;

std::vector<StringRowUtf16> Rows(std::initializer_list<StringRowUtf16> rows) { return rows; }

std::vector<DecodedString> Strings(std::initializer_list<DecodedString> strings) { return strings; }

TEST(Decoder, RoundTripsWhatTheEncoderWrites) {
  VersionFields fields = test::BasicFields();
  fields.FileMajor = 1, fields.FileMinor = 2, fields.FileRelease = 3, fields.FileBuild = 4;
  fields.ProdMajor = 65535, fields.ProdMinor = 32768, fields.ProdRelease = 0, fields.ProdBuild = 32767;
  fields.Special = fields.Private = true;
  fields.FileOs = 0x40004, fields.FileType = 7, fields.FileSubType = 10;
  fields.CodePageText = "1200";
  auto rows = Rows({{u"CompanyName", u""},
                    {u"", u"after an empty key"},
                    {u"Odd", u"\x0100 starts with a zero low byte"},
                    {u"Even", u"\x4E00"},
                    {u"FileVersion", u"1.2.3.4"}});
  DecodedVersionBlock d = DecodeVersionBlock(test::Encode(fields, rows));
  ASSERT_TRUE(d.SignatureMatched);
  const std::pair<VersionPart, std::int16_t> words[8] = {
      {VersionPart::FileMinor, 2},     {VersionPart::FileMajor, 1},      {VersionPart::FileBuild, 4},
      {VersionPart::FileRelease, 3},   {VersionPart::ProdMinor, -32768}, {VersionPart::ProdMajor, -1},
      {VersionPart::ProdBuild, 32767}, {VersionPart::ProdRelease, 0}};
  for (std::size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(d.Words[i].Part, words[i].first) << i;
    EXPECT_EQ(d.Words[i].Position, words[i].second) << i;
  }
  EXPECT_EQ(d.Flags, kFlagSpecial | kFlagPrivate);
  EXPECT_EQ(d.FileOs, 0x40004u);
  EXPECT_EQ(d.FileType, 7u);
  EXPECT_EQ(d.FileSubType, 10u);
  EXPECT_TRUE(d.VarFileInfoFound);
  EXPECT_TRUE(d.TranslationFound);
  EXPECT_EQ(d.Language, 0x0809);
  EXPECT_EQ(d.CodePage, 1200);
  ASSERT_TRUE(d.StringFileInfoFound);
  std::vector<DecodedString> expected;
  for (const StringRowUtf16 &row : rows)
    expected.push_back({row.Key, row.Value});
  EXPECT_EQ(d.Strings, expected);
}

TEST(Decoder, KeyDifferingInAnyCharacterLoadsNothing) {
  Bytes good = test::Encode(test::BasicFields(), Rows({{u"A", u"B"}}));
  for (std::size_t unit = 0; unit < 15; ++unit) {
    Bytes bad = good;
    bad[6 + 2 * unit] ^= 0x20; // letter case, or another character
    DecodedVersionBlock d = DecodeVersionBlock(bad);
    EXPECT_FALSE(d.SignatureMatched) << unit;
    EXPECT_TRUE(d.Strings.empty());
    EXPECT_FALSE(d.TranslationFound);
  }
}

// Layouts other writers use, built child by child.
struct LayoutCase {
  const char *name;
  Bytes block;
  bool varFound;
  bool translationFound;
  bool stringsFound;
  std::size_t rows;
};
class ChildPlacement : public testing::TestWithParam<LayoutCase> {};
TEST_P(ChildPlacement, FindsWhatTheFixedPositionsHold) {
  const LayoutCase &c = GetParam();
  DecodedVersionBlock d = DecodeVersionBlock(c.block);
  ASSERT_TRUE(d.SignatureMatched);
  EXPECT_EQ(d.VarFileInfoFound, c.varFound);
  EXPECT_EQ(d.TranslationFound, c.translationFound);
  if (c.translationFound) {
    EXPECT_EQ(d.Language, 0x0809);
    EXPECT_EQ(d.CodePage, 1252);
  }
  EXPECT_EQ(d.StringFileInfoFound, c.stringsFound);
  EXPECT_EQ(d.Strings.size(), c.rows);
}
Bytes Three() { return test::Encode(test::BasicFields(), Rows({{u"One", u"1"}, {u"Two", u"22"}, {u"Three", u"333"}})); }
INSTANTIATE_TEST_SUITE_P(
    Table, ChildPlacement,
    testing::Values(
        LayoutCase{"EncoderOrder", Three(), true, true, true, 3},
        LayoutCase{"VarFirst", test::WithChildren(Three(), {test::VarPart(Three()), test::StringPart(Three())}), true,
                   true, true, 3},
        LayoutCase{
            "TwoTranslationsFirst",
            test::WithChildren(Three(), {test::VarFileInfo({0x0809, 1252, 0x0409, 1200}), test::StringPart(Three())}),
            false, false, true, 3},
        LayoutCase{
            "TwoTranslationsAfter",
            test::WithChildren(Three(), {test::StringPart(Three()), test::VarFileInfo({0x0809, 1252, 0x0409, 1200})}),
            true, true, true, 3},
        LayoutCase{"OnlyStringFileInfo", test::WithChildren(Three(), {test::StringPart(Three())}), false, false, false,
                   0},
        LayoutCase{"OnlyVarFileInfo", test::WithChildren(Three(), {test::VarPart(Three())}), true, true, false, 0},
        LayoutCase{"NoChildren", test::WithChildren(Three(), {}), false, false, false, 0}),
    [](const testing::TestParamInfo<LayoutCase> &info) { return info.param.name; });

TEST(Decoder, The448ByteBlockGivesFiveRows) {
  Bytes block = test::Encode(test::BasicFields(), Rows({{u"CompanyName", u""},
                                                        {u"FileDescription", u""},
                                                        {u"FileVersion", u"0.0.0.0"},
                                                        {u"LegalCopyright", u"(c) 1"},
                                                        {u"ProductVersion", u"0.0.0.0"}}));
  ASSERT_EQ(block.size(), 448u);
  DecodedVersionBlock d = DecodeVersionBlock(block);
  EXPECT_EQ(d.Strings, Strings({{u"CompanyName", u""},
                                {u"FileDescription", u""},
                                {u"FileVersion", u"0.0.0.0"},
                                {u"LegalCopyright", u"(c) 1"},
                                {u"ProductVersion", u"0.0.0.0"}}));
}

TEST(Decoder, EmptyTableDoesNotReadTheVarFileInfoAsAnEntry) {
  DecodedVersionBlock d = DecodeVersionBlock(test::Encode(test::BasicFields()));
  EXPECT_TRUE(d.StringFileInfoFound);
  EXPECT_TRUE(d.Strings.empty());
  EXPECT_TRUE(d.TranslationFound);
}

// Changes to the entries of a block with the VarFileInfo first (so the
// StringFileInfo's length can change without moving it) and the rows One=1,
// Two=22, Three=333: StringFileInfo at 160, entries of 20, 24 and 28 bytes at
// 220, 240 and 264; the value "22" stands at 256.
struct EntryFault {
  const char *name;
  std::function<void(Bytes &)> change;
  std::vector<DecodedString> strings;
};
class EntryFaults : public testing::TestWithParam<EntryFault> {};
TEST_P(EntryFaults, ReadWhatStandsAndStop) {
  Bytes block = test::WithChildren(Three(), {test::VarPart(Three()), test::StringPart(Three())});
  ASSERT_EQ(test::Word(block, 240), 24);
  ASSERT_EQ(test::Units(block, 256, 2), u"22");
  GetParam().change(block);
  EXPECT_EQ(DecodeVersionBlock(block).Strings, GetParam().strings);
}
INSTANTIATE_TEST_SUITE_P(Table, EntryFaults,
                         testing::Values(EntryFault{"Unchanged", [](Bytes &) {},
                                                    Strings({{u"One", u"1"}, {u"Two", u"22"}, {u"Three", u"333"}})},
                                         EntryFault{"ZeroLengthStops", [](Bytes &b) { PutU16(b, 240, 0); },
                                                    Strings({{u"One", u"1"}})},
                                         EntryFault{"ValueLengthZeroIsEmpty", [](Bytes &b) { PutU16(b, 242, 0); },
                                                    Strings({{u"One", u"1"}, {u"Two", u""}, {u"Three", u"333"}})},
                                         EntryFault{"ValueLengthOneIsEmpty", [](Bytes &b) { PutU16(b, 242, 1); },
                                                    Strings({{u"One", u"1"}, {u"Two", u""}, {u"Three", u"333"}})},
                                         EntryFault{"LengthRoundedUp", [](Bytes &b) { PutU16(b, 240, 22); },
                                                    Strings({{u"One", u"1"}, {u"Two", u"22"}, {u"Three", u"333"}})},
                                         // 18 ends the value after one unit and moves on by 20, onto the
                                         // value's zero terminator: a zero length, which ends the table.
                                         EntryFault{"ValueBoundedByItsEntry", [](Bytes &b) { PutU16(b, 240, 18); },
                                                    Strings({{u"One", u"1"}, {u"Two", u"2"}})},
                                         EntryFault{"BoundEndsTheTable", [](Bytes &b) { PutU16(b, 160, 60 + 20); },
                                                    Strings({{u"One", u"1"}})},
                                         EntryFault{"EmptyValueWithValueLength",
                                                    [](Bytes &b) {
                                                      PutU16(b, 242, 3);
                                                      PutU16(b, 256, 0);
                                                    },
                                                    Strings({{u"One", u"1"}, {u"Two", u""}, {u"Three", u"333"}})},
                                         EntryFault{"TextAfterKeyIgnoredWhenValueLengthSaysEmpty",
                                                    [](Bytes &b) {
                                                      PutU16(b, 242, 1);
                                                      PutU16(b, 254, u'x');
                                                    },
                                                    Strings({{u"One", u"1"}, {u"Two", u""}, {u"Three", u"333"}})},
                                         EntryFault{"KeyRunningToTheEndStops",
                                                    [](Bytes &b) {
                                                      b.resize(274); // inside the third key, before its terminator
                                                    },
                                                    Strings({{u"One", u"1"}, {u"Two", u"22"}})}),
                         [](const testing::TestParamInfo<EntryFault> &info) { return info.param.name; });

TEST(Decoder, SecondStringTableHeaderIsOneMoreRow) {
  auto entry = [](std::u16string_view key, std::u16string_view value) {
    Bytes b;
    EXPECT_TRUE(AppendStringEntry(b, key, value));
    return b;
  };
  Bytes table1 = test::Child(u"080904E4", 0, 0, {}, entry(u"A", u"first"));
  Bytes entries2 = entry(u"B", u"second");
  Bytes table2 = test::Child(u"040904B0", 0, 0, {}, entries2);
  Bytes tables = table1;
  tables.insert(tables.end(), table2.begin(), table2.end());
  Bytes sfi = test::Child(u"StringFileInfo", 0, 1, {}, tables);
  Bytes block = test::WithChildren(Three(), {sfi, test::VarFileInfo({0x0809, 1252})});
  DecodedVersionBlock d = DecodeVersionBlock(block);
  EXPECT_TRUE(d.TranslationFound);
  EXPECT_EQ(d.Strings, Strings({{u"A", u"first"}, {u"040904B0", u""}}));
}

TEST(Decoder, EveryPrefixIsReadWithinItsBounds) {
  Bytes block = Three();
  for (std::size_t size = 0; size <= block.size(); ++size) {
    // A copy of exactly this size, so the sanitizer sees any read past it.
    std::vector<std::uint8_t> prefix(block.begin(), block.begin() + size);
    DecodedVersionBlock d = DecodeVersionBlock(prefix);
    EXPECT_EQ(d.SignatureMatched, size >= 84) << size;
    EXPECT_LE(d.Strings.size(), 3u);
  }
  EXPECT_EQ(DecodeVersionBlock(block).Strings.size(), 3u);
}

} // namespace
} // namespace qm
