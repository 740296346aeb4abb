// What lint finds in a version resource: one row per finding, each a small
// change to a resource that is clean, and rows for what must stay clean.
#include "codec/version_lint.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <functional>
#include <set>
#include <sstream>

#include "codec/code_page_coverage.h"

namespace qm {
namespace {

// A program's version resource with nothing to find.
struct CleanFixture {
  VersionInfo info;
  ModuleFacts facts{{0x0409}, false};

  CleanFixture() {
    info.HasFixedPart = true;
    info.Fixed.FileMajor = 1, info.Fixed.FileMinor = 2, info.Fixed.FileRelease = 3, info.Fixed.FileBuild = 4;
    info.Fixed.ProdMajor = 1, info.Fixed.ProdMinor = 2, info.Fixed.ProdRelease = 7; // "1.2" writes two parts
    info.Fixed.FlagsMask = 0x3F;
    info.Fixed.FileType = 1;
    info.Tables.push_back({u"040904B0",
                           {{u"CompanyName", u"Brindlewick"},
                            {u"FileDescription", u"Résumé tool"},
                            {u"FileVersion", u"1.2.3.4"},
                            {u"ProductName", u"Brindle"},
                            {u"ProductVersion", u"1.2"}}});
    info.Translations.push_back({0x0409, 1200});
  }
  StringTable &Table() { return info.Tables.front(); }
  void Set(std::u16string_view key, std::u16string value) {
    for (DecodedString &entry : Table().Strings)
      if (entry.Key == key) entry.Value = std::move(value);
  }
  // The table and translation in another code page.
  void CodePage(const char16_t *key, std::uint16_t codePage) {
    Table().Key = key;
    info.Translations.front().CodePage = codePage;
  }
};

struct LintCase {
  const char *name;
  std::function<void(CleanFixture &)> change;
  std::vector<LintId> ids;       // every finding, in order
  const char16_t *key = nullptr; // the first finding's key, where it names one
  const char *says = "";         // a piece of the first finding's message
  friend void PrintTo(const LintCase &c, std::ostream *os) { *os << c.name; }
};

class LintFinds : public ::testing::TestWithParam<LintCase> {};

TEST_P(LintFinds, WhatTheReadersWouldShowOtherwise) {
  CleanFixture fixture;
  GetParam().change(fixture);
  const std::vector<LintFinding> findings = LintVersionInfo(fixture.info, fixture.facts);
  std::vector<LintId> ids;
  for (const LintFinding &finding : findings) {
    ids.push_back(finding.Id);
    EXPECT_FALSE(finding.Message.empty());
  }
  ASSERT_EQ(ids, GetParam().ids) << (findings.empty() ? "" : findings.front().Message);
  if (GetParam().key) {
    EXPECT_EQ(findings.front().Key, std::u16string(GetParam().key)) << findings.front().Message;
  }
  if (!findings.empty()) {
    EXPECT_NE(findings.front().Message.find(GetParam().says), std::string::npos) << findings.front().Message;
  }
}

using enum LintId;
INSTANTIATE_TEST_SUITE_P(
    Table, LintFinds,
    ::testing::Values(
        LintCase{"Clean", [](CleanFixture &) {}, {}},
        LintCase{"TranslationWithoutTable",
                 [](CleanFixture &f) {
                   f.info.Translations.push_back({0x0407, 1200});
                 },
                 {TranslationWithoutTable}},
        LintCase{
            "TableWithoutTranslation", [](CleanFixture &f) { f.info.Translations.clear(); }, {TableWithoutTranslation}},
        LintCase{"TableKeyInLowerCaseIsNamed", [](CleanFixture &f) { f.Table().Key = u"040904b0"; }, {}},
        LintCase{"VersionStringMismatch",
                 [](CleanFixture &f) { f.Set(u"FileVersion", u"1.2.3.5"); },
                 {VersionStringMismatch},
                 u"FileVersion"},
        LintCase{"ShortProductVersionDisagrees",
                 [](CleanFixture &f) { f.Set(u"ProductVersion", u"1.3 beta"); },
                 {VersionStringMismatch},
                 u"ProductVersion"},
        LintCase{"WrittenVersionsAgree",
                 [](CleanFixture &f) {
                   f.Set(u"FileVersion", u"v1.02.3.4-rc.1 (build)");
                   f.Set(u"ProductVersion", u"v1.2.7");
                 },
                 {}},
        LintCase{"VersionStringInvalid",
                 [](CleanFixture &f) { f.Set(u"FileVersion", u"1, 2, 3, 4"); },
                 {VersionStringInvalid},
                 u"FileVersion"},
        LintCase{"NoFixedPartNothingToDisagree",
                 [](CleanFixture &f) {
                   f.info.HasFixedPart = false;
                   f.Set(u"FileVersion", u"9.9");
                 },
                 {}},
        LintCase{"SeveralLanguages",
                 [](CleanFixture &f) {
                   f.facts.Languages = {0x0407, 0x0409};
                 },
                 {SeveralLanguages},
                 nullptr,
                 "2 languages (0x0407, 0x0409)"},
        LintCase{"MissingKey",
                 [](CleanFixture &f) { f.Table().Strings.erase(f.Table().Strings.begin()); },
                 {MissingKey},
                 u"CompanyName"},
        LintCase{"EmptyValue",
                 [](CleanFixture &f) {
                   f.Set(u"ProductName", u"");
                   f.Table().Strings.push_back({u"InternalName", u""}); // not a usual key: left alone
                 },
                 {EmptyValue},
                 u"ProductName"},
        LintCase{"DuplicateKeyAsThePlatformCompares",
                 [](CleanFixture &f) {
                   f.Table().Strings.push_back({u"productNAME", u"Other"});
                 },
                 {DuplicateKey},
                 u"productNAME"},
        LintCase{"TextOutsideCodePage",
                 [](CleanFixture &f) {
                   f.CodePage(u"040904E4", 1252);
                   f.Set(u"CompanyName", u"Brindlewick\u2126"); // Ohm sign: not in 1252
                 },
                 {TextOutsideCodePage},
                 u"CompanyName"},
        LintCase{"CentralEuropeanPageHoldsItsLetters",
                 [](CleanFixture &f) {
                   f.CodePage(u"040904E2", 1250);
                   f.Set(u"CompanyName", u"Žluťoučký kůň");
                 },
                 {}},
        LintCase{"SurrogatePairOutsideASingleBytePage",
                 [](CleanFixture &f) {
                   f.CodePage(u"040904E4", 1252);
                   f.Set(u"ProductName", u"Brindle \U0001F600");
                 },
                 {TextOutsideCodePage}},
        LintCase{"DoubleBytePageNotChecked",
                 [](CleanFixture &f) {
                   f.CodePage(u"040903A4", 932);
                   f.Set(u"CompanyName", u"株式会社");
                 },
                 {}},
        LintCase{"UnknownPageHoldsAsciiOnly",
                 [](CleanFixture &f) { f.CodePage(u"04096F8F", 28559); },
                 {TextOutsideCodePage},
                 u"FileDescription"},
        LintCase{"FlagsOutsideMask",
                 [](CleanFixture &f) {
                   f.info.Fixed.FlagsMask = 0x01;
                   f.info.Fixed.Flags = 0x03;
                 },
                 {FlagsOutsideMask}},
        LintCase{"DllTypeOnAProgram", [](CleanFixture &f) { f.info.Fixed.FileType = 2; }, {FileTypeMismatch}},
        LintCase{"AppTypeOnALibrary", [](CleanFixture &f) { f.facts.IsLibrary = true; }, {FileTypeMismatch}},
        LintCase{"TypeUncheckedWithoutAModule",
                 [](CleanFixture &f) {
                   f.info.Fixed.FileType = 2;
                   f.facts = {};
                 },
                 {}}),
    [](const ::testing::TestParamInfo<LintCase> &info) { return std::string(info.param.name); });

TEST(LintIds, AreDistinctKebabCase) {
  std::set<std::string_view> names;
  for (LintId id : kLintIds) {
    const std::string_view name = LintIdName(id);
    EXPECT_TRUE(names.insert(name).second) << name;
    EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyz-"), std::string_view::npos) << name;
  }
}

// The code page tables against the C library's own converters: every
// character a byte of the page stands for is held, and no other one below
// U+3000 (where every character of these pages lies).
TEST(CodePageCoverage, AgreesWithTheSystemConverters) {
  for (int page : {437, 850, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
    iconv_t convert = iconv_open("UTF-32LE", ("CP" + std::to_string(page)).c_str());
    ASSERT_NE(convert, reinterpret_cast<iconv_t>(-1)) << "no converter for code page " << page;
    std::set<char32_t> held;
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
      char in = static_cast<char>(byte);
      unsigned char out[8] = {};
      char *inAt = &in, *outAt = reinterpret_cast<char *>(out);
      std::size_t inLeft = 1, outLeft = sizeof out;
      iconv(convert, nullptr, nullptr, nullptr, nullptr);
      // 1255 and 1258 hold a character back for a combining mark that may
      // follow; the flush gives it.
      if (iconv(convert, &inAt, &inLeft, &outAt, &outLeft) != static_cast<std::size_t>(-1) &&
          iconv(convert, nullptr, nullptr, &outAt, &outLeft) != static_cast<std::size_t>(-1) && outLeft == 4)
        held.insert(out[0] | out[1] << 8 | out[2] << 16 | static_cast<char32_t>(out[3]) << 24);
    }
    iconv_close(convert);
    std::ostringstream wrong;
    int count = 0;
    for (char32_t c = 0x80; c < 0x3000; ++c) {
      const bool holds = !FirstCharacterOutside(static_cast<std::uint16_t>(page), std::u16string(1, char16_t(c)));
      if (holds != (held.count(c) == 1) && ++count <= 5) wrong << std::hex << " U+" << static_cast<std::uint32_t>(c);
    }
    EXPECT_EQ(count, 0) << "code page " << page << " disagrees on" << wrong.str();
  }
}

// The pages held whole and the tabled ones are known, the pages beside
// them are ASCII only; a character past the first plane is one character,
// a surrogate without its partner is itself.
TEST(CodePageCoverage, WholePagesHoldEverythingAndTheirNeighboursOnlyAscii) {
  const std::set<int> whole = {1200, 1201, 12000, 12001, 65000, 65001, 932, 936, 949, 950, 1361};
  const std::set<int> tabled = {437, 850, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};
  std::set<int> pages;
  for (const std::set<int> *list : {&whole, &tabled})
    for (int page : *list)
      pages.insert({page - 1, page, page + 1});
  for (int page : pages) {
    const auto cp = static_cast<std::uint16_t>(page);
    EXPECT_EQ(IsKnownCodePage(cp), whole.count(page) + tabled.count(page) == 1) << page;
    EXPECT_EQ(FirstCharacterOutside(cp, u"a\u4E2D"), whole.count(page) ? std::nullopt : std::optional(U'\u4E2D'))
        << page;
  }
  EXPECT_EQ(FirstCharacterOutside(1252, u"\u00E9\U0001F600"), U'\U0001F600');
  EXPECT_EQ(FirstCharacterOutside(1252, u"\u00E9\xDC00\xD800"), char32_t{0xDC00});
  EXPECT_EQ(FirstCharacterOutside(1252, u"\u00E9\xD800"), char32_t{0xD800});
  EXPECT_EQ(FirstCharacterOutside(1252, u"\xD83D\u00E9"), char32_t{0xD83D});
}

} // namespace
} // namespace qm
