// What the editor's texts become when saving, and the file name rules of
// opening and saving.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "codec/editor_fields.h"
#include "codec/file_names.h"

namespace qm {
namespace {

EditorTexts Plain() {
  EditorTexts texts;
  texts.LanguageItem = "English (United Kingdom) - $0809";
  texts.CodePageItem = "Windows 3.1 US (ANSI) - 1252";
  texts.VersionTexts = {"1", "2", "3", "4", "5", "6", "7", "8"};
  return texts;
}

TEST(CollectVersionFields, FirstTextThatIsNoNumberEndsIt) {
  using Texts = std::array<std::string, 8>;
  const struct {
    Texts texts;
    std::array<std::uint16_t, 8> values; // File Major ... Prod Build, when all convert
    const char *message;
  } cases[] = {
      {{"65536", "70000", "-1", "$1F", "0x10", " 12", "+3", "2147483647"},
       {0, 4464, 65535, 31, 16, 12, 3, 65535},
       nullptr},
      {{"", "x", "1", "1", "1", "1", "1", "1"}, {}, "'' is not a valid integer value"},
      {{"1", "12 ", "x", "1", "1", "1", "1", "1"}, {}, "'12 ' is not a valid integer value"},
      {{"1", "1", "1", "1", "1", "1", "1", "99999999999"}, {}, "'99999999999' is not a valid integer value"},
  };
  for (const auto &c : cases) {
    EditorTexts texts = Plain();
    texts.VersionTexts = c.texts;
    Result<VersionFields> fields = CollectVersionFields(texts);
    if (c.message) {
      ASSERT_FALSE(fields.ok());
      EXPECT_EQ(fields.error(), c.message);
      continue;
    }
    ASSERT_TRUE(fields.ok()) << fields.error();
    const std::array<std::uint16_t, 8> got = {fields->FileMajor,   fields->FileMinor, fields->FileRelease,
                                              fields->FileBuild,   fields->ProdMajor, fields->ProdMinor,
                                              fields->ProdRelease, fields->ProdBuild};
    EXPECT_EQ(got, c.values);
  }
}

TEST(CollectVersionFields, TakesEveryControlInItsPlace) {
  EditorTexts texts = Plain();
  texts.FileTypeIndex = 6;
  texts.FileTypeText = "STATIC LIB";
  texts.SubTypeIndex = 3;
  texts.SubTypeText = "DRV DISPLAY";
  texts.FileOsIndex = 13;
  texts.Special = true;
  texts.Rows = {{"", ""}, {"A", ""}};
  Result<VersionFields> fields = CollectVersionFields(texts);
  ASSERT_TRUE(fields.ok()) << fields.error();
  EXPECT_EQ(fields->FileMajor, 1);
  EXPECT_EQ(fields->FileBuild, 4);
  EXPECT_EQ(fields->ProdMajor, 5);
  EXPECT_EQ(fields->ProdBuild, 8);
  EXPECT_EQ(fields->FileType, 7u);
  EXPECT_EQ(fields->FileSubType, 3u);
  EXPECT_EQ(fields->FileOs, 0x40004u);
  EXPECT_EQ(fields->LanguageText, "0809");
  EXPECT_EQ(fields->CodePageText, "1252");
  EXPECT_TRUE(fields->Special);
  EXPECT_FALSE(fields->Private);
  ASSERT_EQ(fields->Rows.size(), 2u);
  EXPECT_EQ(fields->Rows[1].Key, "A");
}

TEST(EditorRows, FileVersionTextAndTheFirstExactKey) {
  EXPECT_EQ(FileVersionRowText("1", "12", "", "-3"), "1.12..-3");
  const std::vector<StringRow> rows = {
      {"fileversion", ""}, {"FileVersion ", ""}, {"FileVersion", ""}, {"FileVersion", ""}};
  EXPECT_EQ(FirstRowKeyed(rows, kFileVersionKey), 2u);
  EXPECT_FALSE(FirstRowKeyed(rows, kSpecialBuildKey).has_value());
}

TEST(FileNames, ExtensionAndBlockFileName) {
  const struct {
    const char *chosen;
    const char *extension;
    const char *blockFile;
  } cases[] = {
      {"ver", "", "ver.res"},
      {"ver.txt", ".txt", "ver.txt.res"},
      {"ver.RES", ".RES", "ver.RES.res"},
      {"ver.res", ".res", "ver.res"},
      {"C:\\Tools.old\\ver", "", "C:\\Tools.old\\ver.res"},
      {"C:\\dir.res\\", "", "C:\\dir.res\\.res"},
      {"a.res:stream", "", "a.res:stream.res"},
      {"", "", ".res"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(FileExtension(c.chosen), c.extension) << c.chosen;
    EXPECT_EQ(BlockFileName(c.chosen).value_or("<refused>"), c.blockFile) << c.chosen;
  }
  // The name with ".res" must fit 260 characters.
  EXPECT_EQ(BlockFileName(std::string(256, 'n'))->size(), 260u);
  EXPECT_FALSE(BlockFileName(std::string(257, 'n')).has_value());
  EXPECT_EQ(BlockFileName(std::string(256, 'n') + ".res")->size(), 260u);
  EXPECT_FALSE(BlockFileName(std::string(257, 'n') + ".res").has_value());
}

} // namespace
} // namespace qm
