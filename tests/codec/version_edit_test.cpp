// An edit of the whole version information, and the texts it is read from:
// versions, table keys and language ids.
#include "codec/version_edit.h"

#include <gtest/gtest.h>

#include <tuple>

#include "codec/field_codes.h"
#include "codec/text_codec.h"

namespace qm {
namespace {

struct GoodVersion {
  const char *text;
  std::array<std::uint16_t, 4> parts;
  friend void PrintTo(const GoodVersion &c, std::ostream *os) { *os << '"' << c.text << '"'; }
};

class VersionTextAccepts : public ::testing::TestWithParam<GoodVersion> {};

TEST_P(VersionTextAccepts, GivesTheFourComponentsInOrder) {
  auto parts = VersionFromText(GetParam().text);
  ASSERT_TRUE(parts) << parts.error();
  EXPECT_EQ(*parts, GetParam().parts);
}

INSTANTIATE_TEST_SUITE_P(Table, VersionTextAccepts,
                         ::testing::Values(GoodVersion{"1.2.3.4", {1, 2, 3, 4}}, GoodVersion{"0.0.0.0", {0, 0, 0, 0}},
                                           GoodVersion{"65535.0.65535.1", {65535, 0, 65535, 1}},
                                           GoodVersion{"00012.7.0.09", {12, 7, 0, 9}}));

struct BadVersion {
  const char *text;
  const char *because; // a piece of the message
  friend void PrintTo(const BadVersion &c, std::ostream *os) { *os << '"' << c.text << '"'; }
};

class VersionTextRefuses : public ::testing::TestWithParam<BadVersion> {};

TEST_P(VersionTextRefuses, WithAMessageQuotingTheText) {
  auto parts = VersionFromText(GetParam().text);
  ASSERT_FALSE(parts);
  EXPECT_NE(parts.error().find(std::string("'") + GetParam().text + "'"), std::string::npos) << parts.error();
  EXPECT_NE(parts.error().find(GetParam().because), std::string::npos) << parts.error();
}

INSTANTIATE_TEST_SUITE_P(
    Table, VersionTextRefuses,
    ::testing::Values(BadVersion{"1.2.3", "has 3 components"}, BadVersion{"1", "has 1 component;"},
                      BadVersion{"1.2.3.4.5", "more than four"}, BadVersion{"", "decimal number"},
                      BadVersion{"1..3.4", "decimal number"}, BadVersion{"1.2.3.", "decimal number"},
                      BadVersion{"65536.0.0.0", "larger than 65535"}, BadVersion{"99999.0.0.0", "larger than 65535"},
                      BadVersion{"123456.0.0.0", "decimal number"}, BadVersion{"-1.2.3.4", "decimal number"},
                      BadVersion{" 1.2.3.4", "decimal number"}, BadVersion{"1.2.3.4 ", "decimal number"},
                      BadVersion{"$10.0.0.0", "decimal number"}, BadVersion{"1.2.3.x", "decimal number"}));

TEST(VersionText, RefusalsAreInvalidValuesAndWritingRoundTrips) {
  EXPECT_EQ(VersionFromText("1.2").kind(), ErrorKind::Invalid);
  EXPECT_EQ(VersionString({65535, 0, 7, 12}), u"65535.0.7.12");
  EXPECT_EQ(*VersionFromText(Utf16ToUtf8(VersionString({65535, 0, 7, 12}))), (VersionParts{65535, 0, 7, 12}));
}

struct WrittenCase {
  const char *text;
  std::array<std::uint16_t, 4> parts;
  const char16_t *string; // nullptr: refused
};
class WrittenVersionText : public ::testing::TestWithParam<WrittenCase> {};
TEST_P(WrittenVersionText, TakesTheNumbersAndKeepsTheText) {
  const WrittenCase &c = GetParam();
  auto version = VersionFromWrittenText(c.text);
  if (!c.string) {
    ASSERT_FALSE(version) << c.text;
    EXPECT_EQ(version.kind(), ErrorKind::Invalid);
    EXPECT_NE(version.error().find(std::string("'") + c.text + "'"), std::string::npos) << version.error();
    EXPECT_NE(version.error().find("[v]A[.B[.C[.D]]]"), std::string::npos) << version.error();
    return;
  }
  ASSERT_TRUE(version) << version.error();
  EXPECT_EQ(version->Parts, c.parts);
  EXPECT_EQ(version->Text, c.string);
}
INSTANTIATE_TEST_SUITE_P(
    Table, WrittenVersionText,
    ::testing::Values(WrittenCase{"1.2.3.4", {1, 2, 3, 4}, u"1.2.3.4"}, WrittenCase{"01.2.3.4", {1, 2, 3, 4}, u"1.2.3.4"},
                      WrittenCase{"v1.2", {1, 2, 0, 0}, u"v1.2"}, WrittenCase{"V7", {7, 0, 0, 0}, u"V7"},
                      WrittenCase{"2.4.0-rc.1+g1a2b", {2, 4, 0, 0}, u"2.4.0-rc.1+g1a2b"},
                      WrittenCase{"3.0.0-17-gabc123", {3, 0, 0, 0}, u"3.0.0-17-gabc123"},
                      WrittenCase{"1.2.3.4 beta", {1, 2, 3, 4}, u"1.2.3.4 beta"},
                      WrittenCase{"1+meta", {1, 0, 0, 0}, u"1+meta"},
                      WrittenCase{"65535.65535.65535.65535", {65535, 65535, 65535, 65535}, u"65535.65535.65535.65535"},
                      WrittenCase{"1.2.3.4.5", {}, nullptr}, WrittenCase{"65536", {}, nullptr},
                      WrittenCase{"-1.2", {}, nullptr}, WrittenCase{"+1.2", {}, nullptr},
                      WrittenCase{"0x10.0", {}, nullptr}, WrittenCase{"1.2a", {}, nullptr},
                      WrittenCase{"1..2", {}, nullptr}, WrittenCase{"1.2.", {}, nullptr}, WrittenCase{"", {}, nullptr},
                      WrittenCase{"v", {}, nullptr}, WrittenCase{"vv1", {}, nullptr},
                      WrittenCase{" 1.2", {}, nullptr}));

struct KeyCase {
  const char *text;
  const char16_t *key; // nullptr: refused
};
class TableKeyText : public ::testing::TestWithParam<KeyCase> {};
TEST_P(TableKeyText, IsEightHexDigitsInUpperCase) {
  auto key = TableKeyFromText(GetParam().text);
  if (!GetParam().key) {
    ASSERT_FALSE(key) << GetParam().text;
    EXPECT_EQ(key.kind(), ErrorKind::Invalid);
    EXPECT_NE(key.error().find("is not eight hexadecimal digits"), std::string::npos) << key.error();
    return;
  }
  ASSERT_TRUE(key) << key.error();
  EXPECT_EQ(*key, GetParam().key);
}
INSTANTIATE_TEST_SUITE_P(Table, TableKeyText,
                         ::testing::Values(KeyCase{"040904b0", u"040904B0"}, KeyCase{"0C0A04E4", u"0C0A04E4"},
                                           KeyCase{"0409B0", nullptr}, KeyCase{"040904B00", nullptr},
                                           KeyCase{"0x0904B0", nullptr}, KeyCase{"0409 4B0", nullptr}));

struct LanguageCase {
  const char *text;
  int language; // -1: refused
};
class LanguageText : public ::testing::TestWithParam<LanguageCase> {};
TEST_P(LanguageText, IsOneToFourHexDigits) {
  auto language = LanguageFromText(GetParam().text);
  if (GetParam().language < 0) {
    ASSERT_FALSE(language) << GetParam().text;
    EXPECT_EQ(language.kind(), ErrorKind::Invalid);
    return;
  }
  ASSERT_TRUE(language) << language.error();
  EXPECT_EQ(*language, GetParam().language);
}
INSTANTIATE_TEST_SUITE_P(Table, LanguageText,
                         ::testing::Values(LanguageCase{"0409", 0x0409}, LanguageCase{"0x0C0A", 0x0C0A},
                                           LanguageCase{"9", 9}, LanguageCase{"FFFF", 0xFFFF},
                                           LanguageCase{"12345", -1}, LanguageCase{"0x", -1}, LanguageCase{"", -1},
                                           LanguageCase{"0x12345", -1}, LanguageCase{"04G9", -1},
                                           LanguageCase{"-409", -1}));

// How a change lands in the version information, without a module.
TEST(VersionEdit, LandsInTheTablesItShould) {
  const auto info = [](std::vector<StringTable> tables, std::vector<Translation> translations) {
    VersionInfo v;
    v.HasFixedPart = true;
    v.Tables = std::move(tables);
    v.Translations = std::move(translations);
    return v;
  };
  const auto strings = [](const VersionInfo &v) {
    std::string out;
    for (const StringTable &t : v.Tables) {
      out += (out.empty() ? "[" : " [") + Utf16ToUtf8(t.Key) + "]";
      for (const DecodedString &s : t.Strings)
        out += " " + Utf16ToUtf8(s.Key) + "=" + Utf16ToUtf8(s.Value);
    }
    return out;
  };
  const auto edit = [](auto change) {
    VersionEdit e;
    change(e);
    return e;
  };
  const std::vector<StringTable> two = {{u"040904B0", {{u"A", u"1"}, {u"a", u"2"}, {u"B", u"3"}}},
                                        {u"040704B0", {{u"B", u"4"}}}};
  const struct {
    const char *name;
    VersionEdit edit;
    VersionInfo info;
    const char *strings;
    std::size_t translations;
  } cases[] = {
      {"first of a key, any case, in every table; appended where missing", edit([](VersionEdit &e) {
         e.Strings = {{u"a", u"x"}};
       }),
       info(two, {{0x0409, 1200}}), "[040904B0] A=x a=2 B=3 [040704B0] B=4 a=x", 1},
      {"only the table named", edit([](VersionEdit &e) {
         e.Strings = {{u"B", u"y"}};
         e.Table = u"040704B0";
       }),
       info(two, {}), "[040904B0] A=1 a=2 B=3 [040704B0] B=y", 0},
      {"removal takes every entry of the key", edit([](VersionEdit &e) { e.Removed = {u"A"}; }), info(two, {}),
       "[040904B0] B=3 [040704B0] B=4", 0},
      {"file version string appended last", edit([](VersionEdit &e) {
         e.FileVersion = {{1, 2, 3, 4}};
       }),
       info({{u"040904B0", {{u"A", u"1"}}}}, {}), "[040904B0] A=1 FileVersion=1.2.3.4", 0},
      {"a version as written: its text to the string", edit([](VersionEdit &e) {
         TakeVersion(VersionFromWrittenText("v2.4-rc.1").value(), std::nullopt, e.FileVersion, e.FileVersionText);
       }),
       info({{u"040904B0", {{u"A", u"1"}}}}, {}), "[040904B0] A=1 FileVersion=v2.4-rc.1", 0},
      {"a string of its own wins over the version's text; --string of the key comes last", edit([](VersionEdit &e) {
         TakeVersion(VersionFromWrittenText("2.4").value(), u"own", e.FileVersion, e.FileVersionText);
         e.ProductVersionText = u"p";
         e.Strings = {{u"productversion", u"q"}};
       }),
       info({{u"040904B0", {{u"A", u"1"}}}}, {}), "[040904B0] A=1 FileVersion=own ProductVersion=q", 0},
      {"no table: one from the first translation", edit([](VersionEdit &e) {
         e.Strings = {{u"K", u"v"}};
       }),
       info({}, {{0x0407, 1252}, {0x0409, 1200}}), "[040704E4] K=v", 2},
      {"no table, no translation: the resource's language, Unicode", edit([](VersionEdit &e) {
         e.ProductVersion = {{5, 0, 0, 0}};
       }),
       info({}, {}), "[080904B0] ProductVersion=5.0.0.0", 1},
      {"a table named that is missing is made, with its translation", edit([](VersionEdit &e) {
         e.Strings = {{u"K", u"v"}};
         e.Table = u"0C0A04E4";
       }),
       info(two, {{0x0409, 1200}}), "[040904B0] A=1 a=2 B=3 [040704B0] B=4 [0C0A04E4] K=v", 2},
      {"removing from a missing table makes none", edit([](VersionEdit &e) {
         e.Removed = {u"K"};
         e.Table = u"0C0A04E4";
       }),
       info(two, {}), "[040904B0] A=1 a=2 B=3 [040704B0] B=4", 0},
  };
  for (const auto &c : cases) {
    VersionInfo v = c.info;
    ApplyEdit(c.edit, 0x0809, v);
    EXPECT_EQ(strings(v), c.strings) << c.name;
    EXPECT_EQ(v.Translations.size(), c.translations) << c.name;
  }
  VersionInfo bare;
  ApplyEdit(edit([](VersionEdit &e) { e.FlagsOn = 0x20, e.FlagsOff = 0x01; }), 0, bare);
  EXPECT_TRUE(bare.HasFixedPart) << "a fixed part is made for a fixed-part change";
  EXPECT_EQ(std::tuple(bare.Fixed.Flags, bare.Fixed.FlagsMask, bare.Fixed.StrucVersion),
            std::tuple(0x20u, 0x21u, 0x10000u));

  VersionInfo versions;
  ApplyEdit(edit([](VersionEdit &e) {
              e.FileVersion = {{1, 2, 3, 4}};
              e.ProductVersion = {{5, 6, 7, 8}};
            }),
            0, versions);
  const FixedFileInfo &f = versions.Fixed;
  EXPECT_EQ(std::vector<int>({f.FileMajor, f.FileMinor, f.FileRelease, f.FileBuild, f.ProdMajor, f.ProdMinor,
                              f.ProdRelease, f.ProdBuild}),
            std::vector<int>({1, 2, 3, 4, 5, 6, 7, 8}));

  // The numbers of a version as written reach the fixed part; a string
  // alone leaves it untouched, and makes none where there is none.
  VersionInfo written = versions;
  ApplyEdit(edit([](VersionEdit &e) {
              TakeVersion(VersionFromWrittenText("V3.1+g1a2b").value(), u"x", e.ProductVersion, e.ProductVersionText);
              e.FileVersionText = u"y";
            }),
            0, written);
  const FixedFileInfo &w = written.Fixed;
  EXPECT_EQ(std::vector<int>({w.FileMajor, w.FileBuild, w.ProdMajor, w.ProdMinor, w.ProdRelease, w.ProdBuild}),
            std::vector<int>({1, 4, 3, 1, 0, 0}));
  VersionInfo stringOnly;
  ApplyEdit(edit([](VersionEdit &e) { e.FileVersionText = u"y"; }), 0, stringOnly);
  EXPECT_FALSE(stringOnly.HasFixedPart);
  ASSERT_EQ(stringOnly.Tables.size(), 1u);
  EXPECT_EQ(stringOnly.Tables[0].Strings, (std::vector<DecodedString>{{u"FileVersion", u"y"}}));

  // A new version resource says what the module is, by the list's own names.
  EXPECT_EQ(FileTypeName(NewVersionInfo(0x0409, true, std::nullopt).Fixed.FileType), "DLL");
  EXPECT_EQ(FileTypeName(NewVersionInfo(0x0409, false, std::nullopt).Fixed.FileType), "APP");
  EXPECT_EQ(FileOsName(NewVersionInfo(0x0409, false, std::nullopt).Fixed.FileOs), "NT (WINDOWS32)");
}

} // namespace
} // namespace qm
