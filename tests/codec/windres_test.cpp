// Blocks written by another tool: VERSIONINFO resources compiled by the
// mingw resource compiler, read by both readers.
#include <gtest/gtest.h>

#include "codec/decoder.h"
#include "codec/version_info_reader.h"
#include "res_file.h"

namespace qm {
namespace {

using Strings = std::vector<DecodedString>;

struct WindresCase {
  const char *rcFile;
  // What the editor's decoder gets.
  std::int16_t fileMajor;
  std::uint32_t flags;
  std::uint32_t fileOs;
  std::uint32_t fileType;
  bool translationFound;
  std::uint16_t language;
  std::uint16_t codePage;
  Strings decoded;
  // What the general reader gets.
  std::vector<StringTable> tables;
  std::vector<Translation> translations;
};

class WindresBlocks : public testing::TestWithParam<WindresCase> {
protected:
  std::vector<std::uint8_t> Block() {
    std::optional<std::vector<std::uint8_t>> block =
        test::CompileVersionResource(std::filesystem::path(QM_CODEC_TEST_DATA) / GetParam().rcFile, QM_WINDRES);
    if (std::string(QM_WINDRES).empty()) return {};
    EXPECT_TRUE(block.has_value()) << "windres failed on " << GetParam().rcFile;
    return block.value_or(std::vector<std::uint8_t>{});
  }
};

TEST_P(WindresBlocks, DecoderReadsTheFixedPositions) {
  if (std::string(QM_WINDRES).empty()) GTEST_SKIP() << "no resource compiler";
  const WindresCase &c = GetParam();
  DecodedVersionBlock d = DecodeVersionBlock(Block());
  ASSERT_TRUE(d.SignatureMatched);
  EXPECT_EQ(d.Words[1].Part, VersionPart::FileMajor);
  EXPECT_EQ(d.Words[1].Position, c.fileMajor);
  EXPECT_EQ(d.Flags, c.flags);
  EXPECT_EQ(d.FileOs, c.fileOs);
  EXPECT_EQ(d.FileType, c.fileType);
  EXPECT_EQ(d.TranslationFound, c.translationFound);
  if (c.translationFound) {
    EXPECT_EQ(d.Language, c.language);
    EXPECT_EQ(d.CodePage, c.codePage);
  }
  EXPECT_TRUE(d.StringFileInfoFound);
  EXPECT_EQ(d.Strings, c.decoded);
}

TEST_P(WindresBlocks, GeneralReaderSeesTheWholeTree) {
  if (std::string(QM_WINDRES).empty()) GTEST_SKIP() << "no resource compiler";
  const WindresCase &c = GetParam();
  Result<VersionInfo> info = ReadVersionInfo(Block());
  ASSERT_TRUE(info) << info.error();
  ASSERT_TRUE(info->HasFixedPart);
  EXPECT_EQ(info->Fixed.FileMajor, static_cast<std::uint16_t>(c.fileMajor));
  EXPECT_EQ(info->Fixed.Flags, c.flags);
  EXPECT_EQ(info->Fixed.FlagsMask, 0x3Fu);
  ASSERT_EQ(info->Tables.size(), c.tables.size());
  for (std::size_t i = 0; i < c.tables.size(); ++i) {
    EXPECT_EQ(info->Tables[i].Key, c.tables[i].Key);
    EXPECT_EQ(info->Tables[i].Strings, c.tables[i].Strings);
  }
  ASSERT_EQ(info->Translations.size(), c.translations.size());
  for (std::size_t i = 0; i < c.translations.size(); ++i) {
    EXPECT_EQ(info->Translations[i].Language, c.translations[i].Language);
    EXPECT_EQ(info->Translations[i].CodePage, c.translations[i].CodePage);
  }
}

TEST_P(WindresBlocks, GeneralReaderRefusesEveryPrefixCleanly) {
  if (std::string(QM_WINDRES).empty()) GTEST_SKIP() << "no resource compiler";
  std::vector<std::uint8_t> block = Block();
  for (std::size_t size = 0; size < block.size(); ++size) {
    std::vector<std::uint8_t> prefix(block.begin(), block.begin() + size);
    Result<VersionInfo> info = ReadVersionInfo(prefix);
    EXPECT_FALSE(info) << size; // every length field says more than is there
    (void)DecodeVersionBlock(prefix);
  }
}

const Strings kStandardStrings = {
    {u"CompanyName", u"Quill Test Works"}, {u"Comments", u""}, {u"FileVersion", u"1.2.3.4"}, {u"OddKey", u"ab"}};
const Strings kVarFirstStrings = {{u"ProductName", u"Var First"}, {u"ProductVersion", u"9.8.7.6"}};
const Strings kEnglish = {{u"FileDescription", u"English"}, {u"LegalCopyright", u"(c) Quill"}};
const Strings kGerman = {{u"FileDescription", u"Deutsch"}};

INSTANTIATE_TEST_SUITE_P(Data, WindresBlocks,
                         testing::Values(WindresCase{"standard.rc",
                                                     1,
                                                     0x2B,
                                                     0x40004,
                                                     2,
                                                     true,
                                                     0x0809,
                                                     1252,
                                                     kStandardStrings,
                                                     {{u"080904E4", kStandardStrings}},
                                                     {{0x0809, 1252}}},
                                         WindresCase{"var_first.rc",
                                                     9,
                                                     0,
                                                     4,
                                                     1,
                                                     true,
                                                     0x0409,
                                                     1200,
                                                     kVarFirstStrings,
                                                     {{u"040904B0", kVarFirstStrings}},
                                                     {{0x0409, 1200}}},
                                         // The decoder reads the first table, then the second table's header as
                                         // one more row; it takes the first translation only.
                                         WindresCase{"several.rc",
                                                     1,
                                                     1,
                                                     0x40004,
                                                     7,
                                                     true,
                                                     0x0409,
                                                     1252,
                                                     Strings{kEnglish[0], kEnglish[1], {u"040704E4", u""}},
                                                     {{u"040904E4", kEnglish}, {u"040704E4", kGerman}},
                                                     {{0x0409, 1252}, {0x0407, 1252}, {0x0C0A, 1200}}}),
                         [](const testing::TestParamInfo<WindresCase> &info) {
                           std::string name = info.param.rcFile;
                           return name.substr(0, name.find('.'));
                         });

} // namespace
} // namespace qm
