#include "codec/version_info_reader.h"

#include <gtest/gtest.h>

#include <functional>

#include "block_builder.h"

namespace qm {
namespace {

using test::Bytes;

Bytes TwoRows() {
  VersionFields fields = test::BasicFields();
  fields.FileMajor = 3, fields.ProdBuild = 9, fields.Debug = true;
  return test::Encode(fields, {{u"FileVersion", u"3.0.0.0"}, {u"Empty", u""}});
}

TEST(VersionInfoReader, ReadsTheEncodersBlock) {
  Result<VersionInfo> info = ReadVersionInfo(TwoRows());
  ASSERT_TRUE(info) << info.error();
  EXPECT_TRUE(info->HasFixedPart);
  EXPECT_EQ(info->Fixed.FileMajor, 3);
  EXPECT_EQ(info->Fixed.ProdBuild, 9);
  EXPECT_EQ(info->Fixed.Flags, 1u);
  ASSERT_EQ(info->Tables.size(), 1u);
  EXPECT_EQ(info->Tables[0].Key, u"080904E4");
  EXPECT_EQ(info->Tables[0].Strings, (std::vector<DecodedString>{{u"FileVersion", u"3.0.0.0"}, {u"Empty", u""}}));
  ASSERT_EQ(info->Translations.size(), 1u);
  EXPECT_EQ(info->Translations[0].CodePage, 1252);
}

// Entries at 152 (FileVersion, 48 bytes) and 200 (Empty, 24 bytes); the
// block is 292 bytes.
struct BrokenCase {
  const char *name;
  std::function<void(Bytes &)> change;
  const char *message;
};
class BrokenTrees : public testing::TestWithParam<BrokenCase> {};
TEST_P(BrokenTrees, NameTheNodeAndTheFault) {
  Bytes block = TwoRows();
  ASSERT_EQ(block.size(), 292u);
  GetParam().change(block);
  Result<VersionInfo> info = ReadVersionInfo(block);
  ASSERT_FALSE(info);
  EXPECT_EQ(info.error(), GetParam().message);
  EXPECT_EQ(info.kind(), ErrorKind::Refused);
}
INSTANTIATE_TEST_SUITE_P(
    Table, BrokenTrees,
    testing::Values(BrokenCase{"KeyWithoutTerminator",
                               [](Bytes &b) {
                                 PutU16(b, 152, 28); // the key's terminator now lies beyond the entry
                                 PutU16(b, 180, 20); // and what follows still tiles the table
                               },
                               "StringFileInfo/080904E4/FileVersion: missing terminator"},
                    BrokenCase{"ChildPastParent", [](Bytes &b) { PutU16(b, 200, 200); },
                               "StringFileInfo/080904E4: node at offset 200 runs past its parent (200 bytes, 24 left)"},
                    BrokenCase{"ZeroLength", [](Bytes &b) { PutU16(b, 200, 0); },
                               "StringFileInfo/080904E4: node length 0 at offset 200 is too small"},
                    BrokenCase{"BlockLongerThanData", [](Bytes &b) { PutU16(b, 0, 400); },
                               "version block: node at offset 0 runs past its parent (400 bytes, 292 left)"},
                    BrokenCase{"OtherRootKey", [](Bytes &b) { PutU16(b, 6, u'v'); },
                               "version block: the key is not VS_VERSION_INFO"},
                    BrokenCase{"BadSignature", [](Bytes &b) { PutU32(b, 40, 0); },
                               "VS_VERSION_INFO: wrong fixed part signature"},
                    BrokenCase{"TranslationPastItsNode", [](Bytes &b) { PutU16(b, 224 + 34, 8); },
                               "VarFileInfo/Translation: value of 8 bytes runs past its node"}),
    [](const testing::TestParamInfo<BrokenCase> &info) { return info.param.name; });

TEST(VersionInfoReader, TakesTextValuesCountedInBytesAndTypeZero) {
  Bytes block = TwoRows();
  PutU16(block, 154, 16); // wValueLength in bytes, as some writers count it
  PutU16(block, 156, 0);  // and a binary type for a text
  Result<VersionInfo> info = ReadVersionInfo(block);
  ASSERT_TRUE(info) << info.error();
  EXPECT_EQ(info->Tables[0].Strings[0].Value, u"3.0.0.0");
}

// A VarFileInfo child of another name holds no translations, whatever its
// value looks like.
TEST(VersionInfoReader, TakesTranslationsFromTheTranslationChildOnly) {
  Bytes block = TwoRows();
  ASSERT_EQ(test::Units(block, 256 + 6, 11), u"Translation");
  PutU16(block, 256 + 6, u'X');
  Result<VersionInfo> info = ReadVersionInfo(block);
  ASSERT_TRUE(info) << info.error();
  EXPECT_TRUE(info->Translations.empty());
}

// Writers pad the block past its last child; up to five bytes cannot hold
// a node header, so they are padding, and six zeros are a node too small.
TEST(VersionInfoReader, TakesShortPaddingAfterTheLastChildOnly) {
  for (std::uint16_t extra = 1; extra <= 6; ++extra) {
    Bytes block = TwoRows();
    block.resize(block.size() + extra, 0);
    PutU16(block, 0, static_cast<std::uint16_t>(block.size()));
    Result<VersionInfo> info = ReadVersionInfo(block);
    EXPECT_EQ(info.ok(), extra < 6) << extra << " bytes: " << (info ? "" : info.error());
    if (info) {
      EXPECT_EQ(info->Tables[0].Strings.size(), 2u) << extra;
    }
  }
}

TEST(VersionInfoReader, EveryPrefixFailsWithoutReadingPastIt) {
  Bytes block = TwoRows();
  for (std::size_t size = 0; size < block.size(); ++size) {
    Bytes prefix(block.begin(), block.begin() + size);
    EXPECT_FALSE(ReadVersionInfo(prefix)) << size;
  }
}

} // namespace
} // namespace qm
