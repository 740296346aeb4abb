#include "codec/lists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace qm {
namespace {

TEST(Lists, LanguageIdentifiersAreDistinctAndNotUndefined) {
  std::set<std::uint16_t> seen(kLanguageIds.begin(), kLanguageIds.end());
  EXPECT_EQ(seen.size(), kLanguageIds.size());
  EXPECT_EQ(seen.count(0), 0u);
  EXPECT_EQ(kLanguageIds.front(), 0x0436);
  EXPECT_EQ(kLanguageIds[46], 0x0809);
  EXPECT_EQ(kLanguageIds.back(), 0x0435);
}

TEST(Lists, LanguageItemEndsInUppercaseHex) {
  EXPECT_EQ(LanguageItemText("English (United States)", 0x0409), "English (United States) - $0409");
  EXPECT_EQ(LanguageItemText("x", 0xE40C), "x - $E40C");
  EXPECT_EQ(LanguageItemText("", 0x000A), " - $000A");
}

TEST(Lists, EveryCodePageItemHasOneDashAndFourDigits) {
  for (std::string_view item : kCodePageItems) {
    std::size_t dash = item.find("- ");
    ASSERT_NE(dash, std::string_view::npos) << item;
    EXPECT_EQ(item.find("- ", dash + 1), std::string_view::npos) << item;
    EXPECT_EQ(dash + 6, item.size()) << item;
  }
}

struct CutCase {
  const char *item;
  const char *language;
  const char *codePage;
};
class TextCutting : public testing::TestWithParam<CutCase> {};
TEST_P(TextCutting, TakesFourCharactersAfterTheMark) {
  EXPECT_EQ(LanguageTextFromItem(GetParam().item), GetParam().language);
  EXPECT_EQ(CodePageTextFromItem(GetParam().item), GetParam().codePage);
}
INSTANTIATE_TEST_SUITE_P(Table, TextCutting,
                         testing::Values(CutCase{"", "", ""}, CutCase{"English - $0809", "0809", "$080"},
                                         CutCase{"EBCDIC \"500V1\" - 0500", "EBCD", "0500"},
                                         CutCase{"a$b$c", "b$c", "$b$c"}, CutCase{"x - $12", "12", "$12"},
                                         CutCase{"abcdefg", "abcd", "bcde"}, CutCase{"Q", "Q", ""}));

struct CodePageCase {
  std::uint16_t codePage;
  int index;
};
class CodePageMatching : public testing::TestWithParam<CodePageCase> {};
TEST_P(CodePageMatching, PicksTheFirstItemContainingTheNumber) {
  EXPECT_EQ(CodePageItemIndex(GetParam().codePage), GetParam().index);
}
INSTANTIATE_TEST_SUITE_P(Table, CodePageMatching,
                         testing::Values(CodePageCase{37, 0}, CodePageCase{0, 0}, CodePageCase{3, 0},
                                         CodePageCase{437, 1}, CodePageCase{1, 2}, CodePageCase{12, 28},
                                         CodePageCase{1252, 31}, CodePageCase{737, 7}, CodePageCase{1361, 37},
                                         CodePageCase{1258, -1}, CodePageCase{65001, -1}));

TEST(Lists, EveryCodePageItemIsFoundAgainByItsNumber) {
  for (std::size_t i = 0; i < kCodePageItems.size(); ++i) {
    int number = std::stoi(CodePageTextFromItem(kCodePageItems[i]));
    EXPECT_EQ(CodePageItemIndex(static_cast<std::uint16_t>(number)), static_cast<int>(i)) << kCodePageItems[i];
  }
}

TEST(Lists, LanguageMatchingTakesTheFirstContainingItem) {
  std::vector<std::string> items = {std::string(kUndefinedLanguageItem), LanguageItemText("English", 0x0409),
                                    LanguageItemText("Other", 0x0809)};
  EXPECT_EQ(LanguageItemIndex(items, 0x0000), 0);
  EXPECT_EQ(LanguageItemIndex(items, 0x0809), 2);
  EXPECT_EQ(LanguageItemIndex(items, 0x0009), -1);
  EXPECT_EQ(LanguageSearchText(0xe40c), "E40C");
  EXPECT_EQ(CodePageSearchText(37), "37");
}

} // namespace
} // namespace qm
