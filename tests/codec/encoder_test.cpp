#include "codec/encoder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "block_builder.h"
#include "codec/block_layout.h"
#include "res_file.h"

namespace qm {
namespace {

using test::Bytes;
using test::Word;

std::vector<StringRowUtf16> DefaultRows() {
  return {{u"CompanyName", u""},
          {u"FileDescription", u""},
          {u"FileVersion", u"0.0.0.0"},
          {u"LegalCopyright", u"(c) 1"},
          {u"ProductVersion", u"0.0.0.0"}};
}

TEST(Encoder, EmptyTableGivesThe220ByteBlock) {
  Bytes block = test::Encode(test::BasicFields());
  ASSERT_EQ(block.size(), 220u);
  EXPECT_EQ(Word(block, 0), 220);
  EXPECT_EQ(Word(block, 2), 52);
  EXPECT_EQ(test::Units(block, 6, 16), std::u16string(u"VS_VERSION_INFO\0", 16));
  EXPECT_EQ(test::Dword(block, 0x28), 0xFEEF04BDu);
  EXPECT_EQ(test::Dword(block, 0x2C), 0x00010000u);
  EXPECT_EQ(Word(block, 92), 60);
  EXPECT_EQ(Word(block, 96), 1);
  EXPECT_EQ(Word(block, 128), 24);
  EXPECT_EQ(Word(block, 132), 0);
  EXPECT_EQ(test::Units(block, 134, 9), std::u16string(u"080904E4\0", 9));
  EXPECT_EQ(Word(block, 152), 68);
  EXPECT_EQ(test::Units(block, 158, 11), u"VarFileInfo");
  EXPECT_EQ(Word(block, 184), 36);
  EXPECT_EQ(Word(block, 186), 4);
  EXPECT_EQ(test::Units(block, 190, 11), u"Translation");
  EXPECT_EQ(Word(block, 216), 0x0809);
  EXPECT_EQ(Word(block, 218), 0x04E4);
}

TEST(Encoder, DefaultRowsGiveThe448ByteBlock) {
  Bytes block = test::Encode(test::BasicFields(), DefaultRows());
  ASSERT_EQ(block.size(), 448u);
  EXPECT_EQ(Word(block, 0), 448);
  EXPECT_EQ(Word(block, 92), 288);
  EXPECT_EQ(Word(block, 128), 252);
  const std::size_t sizes[] = {36, 44, 48, 48, 52};
  std::size_t at = 152;
  for (std::size_t size : sizes) {
    EXPECT_EQ(Word(block, at), size) << "entry at " << at;
    at += size;
  }
  EXPECT_EQ(at, 380u);
  EXPECT_EQ(test::Units(block, 386, 11), u"VarFileInfo");
}

TEST(Encoder, CompanyNameWithEmptyValueBytes) {
  Bytes block;
  ASSERT_TRUE(AppendStringEntry(block, u"CompanyName", u""));
  Bytes expected = {0x24, 0, 1, 0, 1, 0};
  for (char c : std::string("CompanyName"))
    expected.insert(expected.end(), {static_cast<std::uint8_t>(c), 0});
  expected.insert(expected.end(), {0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(block, expected);
  Bytes empty;
  ASSERT_TRUE(AppendStringEntry(empty, u"", u""));
  EXPECT_EQ(empty, (Bytes{12, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
}

struct EntryCase {
  std::u16string key;
  std::u16string value;
  std::uint16_t length;
  std::uint16_t valueLength;
  std::size_t valueAt; // where the value's first unit stands in the entry
};
class EntryLayout : public testing::TestWithParam<EntryCase> {};
TEST_P(EntryLayout, PadsKeyAndValueToFourBytes) {
  const EntryCase &c = GetParam();
  Bytes block(4, 0xEE); // the entry starts at a multiple of four
  ASSERT_TRUE(AppendStringEntry(block, c.key, c.value));
  EXPECT_EQ(block.size(), 4u + c.length);
  EXPECT_EQ(Word(block, 4), c.length);
  EXPECT_EQ(Word(block, 6), c.valueLength);
  EXPECT_EQ(Word(block, 8), 1);
  EXPECT_EQ(test::Units(block, 10, c.key.size() + 1), c.key + u'\0');
  EXPECT_EQ(test::Units(block, 4 + c.valueAt, c.value.size() + 1), c.value + u'\0');
  for (std::size_t i = 10 + 2 * c.key.size(); i < 4 + c.valueAt; ++i)
    EXPECT_EQ(block[i], 0) << i;
  for (std::size_t i = 4 + c.valueAt + 2 * c.value.size(); i < block.size(); ++i)
    EXPECT_EQ(block[i], 0) << i;
}
INSTANTIATE_TEST_SUITE_P(Parity, EntryLayout,
                         testing::Values(EntryCase{u"AB", u"xyz", 2 * 2 + 2 * 3 + 10, 4, 12},
                                         EntryCase{u"AB", u"wxyz", 2 * 2 + 2 * 4 + 12, 5, 12},
                                         EntryCase{u"ABC", u"xyz", 2 * 3 + 2 * 3 + 12, 4, 16},
                                         EntryCase{u"ABC", u"", 2 * 3 + 12 + 2, 1, 16},
                                         EntryCase{u"PrivateBuild", u"", 36, 1, 32},
                                         EntryCase{u"FileVersion", u"0.0.0.0", 48, 8, 32}));

struct TranslationCase {
  const char *codePageText;
  std::u16string keyEnd;
  std::uint16_t codePage;
};
class TranslationKeys : public testing::TestWithParam<TranslationCase> {};
TEST_P(TranslationKeys, KeyAndWordsFollowTheCodePage) {
  VersionFields fields = test::BasicFields();
  fields.CodePageText = GetParam().codePageText;
  Bytes block = test::Encode(fields);
  ASSERT_EQ(block.size(), 220u);
  EXPECT_EQ(test::Units(block, 134, 8), u"0809" + GetParam().keyEnd);
  EXPECT_EQ(Word(block, 216), 0x0809);
  EXPECT_EQ(Word(block, 218), GetParam().codePage);
}
INSTANTIATE_TEST_SUITE_P(Table, TranslationKeys,
                         testing::Values(TranslationCase{"1252", u"04E4", 0x04E4},
                                         TranslationCase{"1200", u"04B0", 0x04B0},
                                         TranslationCase{"0037", u"0025", 0x0025},
                                         TranslationCase{"0000", u"0000", 0}));

TEST(Encoder, VersionWordsAndFlags) {
  VersionFields fields = test::BasicFields();
  fields.FileMajor = 1, fields.FileMinor = 2, fields.FileRelease = 3, fields.FileBuild = 4;
  fields.ProdMajor = 5, fields.ProdMinor = 6, fields.ProdRelease = 7, fields.ProdBuild = 8;
  fields.Debug = fields.PreRelease = fields.Special = fields.Private = true;
  fields.FileOs = 0x40004, fields.FileType = 7, fields.FileSubType = 3;
  Bytes block = test::Encode(fields);
  ASSERT_EQ(block.size(), 220u);
  EXPECT_EQ(Bytes(block.begin() + 0x30, block.begin() + 0x40), (Bytes{2, 0, 1, 0, 4, 0, 3, 0, 6, 0, 5, 0, 8, 0, 7, 0}));
  EXPECT_EQ(test::Dword(block, 0x40), 0u);
  EXPECT_EQ(test::Dword(block, 0x44), 0x2Bu);
  EXPECT_EQ(test::Dword(block, 0x48), 0x40004u);
  EXPECT_EQ(test::Dword(block, 0x4C), 7u);
  EXPECT_EQ(test::Dword(block, 0x50), 3u);
  EXPECT_EQ(test::Dword(block, 0x54), 0u);
  EXPECT_EQ(test::Dword(block, 0x58), 0u);
  fields.Debug = fields.PreRelease = fields.Special = fields.Private = false;
  EXPECT_EQ(test::Dword(test::Encode(fields), 0x44), 0u);
}

// Every byte of the editor's block, padding included, against the block the
// resource compiler makes of the same values. Values of odd length leave no
// padding after an entry, where the two writers count lengths differently.
TEST(Encoder, WholeBlockMatchesTheResourceCompilers) {
  if (std::string(QM_WINDRES).empty()) GTEST_SKIP() << "no resource compiler";
  const std::filesystem::path rc = std::filesystem::current_path() / "encoder_reference.rc";
  std::ofstream(rc) << "1 VERSIONINFO\nFILEVERSION 1,2,3,4\nPRODUCTVERSION 5,6,7,8\nFILEFLAGSMASK 0\n"
                       "FILEFLAGS 0x2B\nFILEOS 0x40004\nFILETYPE 7\nFILESUBTYPE 3\nBEGIN\n"
                       "BLOCK \"StringFileInfo\" { BLOCK \"080904E4\" { VALUE \"CompanyName\", \"Quill\" "
                       "VALUE \"Comments\", \"abc\" } }\n"
                       "BLOCK \"VarFileInfo\" { VALUE \"Translation\", 0x0809, 1252 }\nEND\n";
  const std::optional<Bytes> reference = test::CompileVersionResource(rc, QM_WINDRES);
  ASSERT_TRUE(reference) << "windres failed on " << rc;
  // The one deliberate difference: the editor types its string table as
  // binary (0), the resource compiler as text (1).
  Bytes expected = *reference;
  ASSERT_EQ(Word(expected, layout::kStringTableOffset + 4), 1);
  expected[layout::kStringTableOffset + 4] = 0;
  VersionFields fields = test::BasicFields();
  fields.FileMajor = 1, fields.FileMinor = 2, fields.FileRelease = 3, fields.FileBuild = 4;
  fields.ProdMajor = 5, fields.ProdMinor = 6, fields.ProdRelease = 7, fields.ProdBuild = 8;
  fields.Debug = fields.PreRelease = fields.Special = fields.Private = true;
  fields.FileOs = 0x40004, fields.FileType = 7, fields.FileSubType = 3;
  EXPECT_EQ(test::Encode(fields, {{u"CompanyName", u"Quill"}, {u"Comments", u"abc"}}), expected);
}

// Four characters go into the table's key as given; any other length is
// written from its number, so the key keeps eight characters.
TEST(Encoder, TableKeyTakesTheLanguageTextOrItsNumber) {
  for (const auto &[language, key] : {std::pair{"0c0a", u"0c0a04E4"}, std::pair{"c0a", u"0C0A04E4"}}) {
    VersionFields fields = test::BasicFields();
    fields.LanguageText = language;
    EXPECT_EQ(test::Units(test::Encode(fields), layout::kStringTableOffset + 6, 8), key) << language;
  }
}

struct FailureCase {
  const char *language;
  const char *codePage;
  const char *message;
};
class ConversionFailure : public testing::TestWithParam<FailureCase> {};
TEST_P(ConversionFailure, ReportsTheRuntimeTextAndStoresNothing) {
  VersionFields fields = test::BasicFields();
  fields.LanguageText = GetParam().language;
  fields.CodePageText = GetParam().codePage;
  bool called = false;
  BlockSink sink([&](std::span<const std::uint8_t>) {
    called = true;
    return Ok();
  });
  Status status = BuildVersionBlock(EncodeTarget::BlockFile, sink, fields, Windows1252Codec());
  ASSERT_FALSE(status);
  EXPECT_EQ(status.error(), GetParam().message);
  EXPECT_FALSE(called);
}
INSTANTIATE_TEST_SUITE_P(Table, ConversionFailure,
                         testing::Values(FailureCase{"", "", "'$' is not a valid integer value"},
                                         FailureCase{"", "1252", "'$' is not a valid integer value"},
                                         FailureCase{"0809", "", "'' is not a valid integer value"},
                                         FailureCase{"08G9", "1252", "'$08G9' is not a valid integer value"},
                                         FailureCase{"0809", "12a", "'12a' is not a valid integer value"}));

struct SizeCase {
  std::size_t valueLength;
  bool accepted;
};
class SizeLimit : public testing::TestWithParam<SizeCase> {};
TEST_P(SizeLimit, RefusesWhatSixteenBitsCannotHold) {
  std::vector<StringRowUtf16> rows = {{u"", std::u16string(GetParam().valueLength, u'x')}};
  Result<Bytes> block = EncodeVersionBlock(test::BasicFields(), rows);
  ASSERT_EQ(block.ok(), GetParam().accepted);
  if (block) {
    EXPECT_EQ(Word(*block, 0), block->size());
  }
}
// An empty key and a value of V (odd) units give an entry of 2V + 10 bytes.
INSTANTIATE_TEST_SUITE_P(Table, SizeLimit,
                         testing::Values(SizeCase{32651, true}, SizeCase{32653, false}, SizeCase{32761, false},
                                         SizeCase{32763, false}, SizeCase{40000, false}));

TEST(Encoder, ManyRowsThatTogetherOverflowAreRefused) {
  std::vector<StringRowUtf16> rows(3000, {u"Key", u"Value"}); // 28 bytes each
  Result<Bytes> block = EncodeVersionBlock(test::BasicFields(), rows);
  ASSERT_FALSE(block);
  EXPECT_NE(block.error().find("65536"), std::string::npos);
}

TEST(Encoder, SizesFollowTheConvertedText) {
  // Two 8-bit characters that one UTF-16 unit stands for: the entry is sized
  // by the converted text, not by the bytes.
  struct PairCodec : TextCodec {
    std::u16string ToUtf16(std::string_view t) const override { return std::u16string(t.size() / 2, u'\x4E00'); }
    std::string FromUtf16(std::u16string_view) const override { return {}; }
  };
  VersionFields fields = test::BasicFields();
  fields.Rows = {{"kk", "vvvv"}};
  Result<Bytes> block = EncodeVersionBlock(fields, PairCodec());
  ASSERT_TRUE(block);
  EXPECT_EQ(Word(*block, 152), 2 * 1 + 2 * 2 + 14);
  EXPECT_EQ(Word(*block, 154), 3);
}

TEST(Encoder, SinkGetsTheWholeBlock) {
  std::string written;
  BlockSink sink([&](std::span<const std::uint8_t> block) {
    written.append(reinterpret_cast<const char *>(block.data()), block.size());
    return Ok();
  });
  VersionFields fields = test::BasicFields();
  fields.Rows = {{"CompanyName", "Caf\xE9"}};
  ASSERT_TRUE(BuildVersionBlock(EncodeTarget::BlockFile, sink, fields, Windows1252Codec()));
  ASSERT_EQ(written.size(), 220u + 44u);
  EXPECT_EQ(static_cast<std::uint8_t>(written[0]) | static_cast<std::uint8_t>(written[1]) << 8, 264);
  EXPECT_EQ(written.substr(184, 8), std::string("C\0a\0f\0\xE9\0", 8));
}

} // namespace
} // namespace qm
