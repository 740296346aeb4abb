#include "codec/lists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <vector>

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

// The whole table, transcribed from the list's definition sixteen to a row:
// a mistyped identifier would name another language in every saved block.
TEST(Lists, LanguageIdentifiersInListOrder) {
  const char *const rows[] = {
      "0436 041C 045E 0401 1401 3C01 0C01 0801 2C01 3401 3001 1001 1801 2001 4001 2801",
      "1C01 3801 2401 042B 044D 082C 042C 042D 0423 0445 0845 141A 0402 0455 0403 045C",
      "0804 1004 0404 0C04 1404 041A 101A 0405 0406 0465 0413 0813 0466 0409 0809 0C09",
      "2809 1009 2409 3C09 4009 3809 1809 2009 4409 1409 3409 4809 1C09 2C09 3009 0425",
      "0438 0429 0464 040B 040C 080C 2C0C 0C0C 240C 300C 3C0C 140C 340C 180C 380C E40C",
      "200C 280C 100C 1C0C 0462 0467 042F 083C 043C 0456 0437 0407 0C07 1407 1007 0807",
      "0408 0474 0447 0468 0475 040D 0439 040E 0469 040F 0470 0421 045D 0410 0810 0411",
      "044B 0471 0860 0460 043F 0453 0457 0412 0440 0454 0476 0426 0427 043E 083E 044C",
      "043A 0458 0481 044E 0450 0850 0461 0861 0414 0814 0448 0472 0479 0463 0415 0416",
      "0816 0446 0846 046B 086B 0C6B 0417 0418 0818 0419 0819 043B 044F 046C 0C1A 081A",
      "0459 0859 045B 041B 0424 0477 042E 0C0A 040A 2C0A 400A 340A 240A 140A 1C0A 300A",
      "440A 100A 480A E40A 080A 4C0A 180A 3C0A 280A 500A 540A 380A 200A 0430 0441 041D",
      "081D 045A 0428 045F 085F 0449 0444 044A 041E 0851 0451 0873 0473 0431 0432 041F",
      "0442 0480 0422 0420 0820 0843 0443 0433 042A 0452 0434 0478 043D 046A 0435",
  };
  std::vector<std::uint16_t> expected;
  for (const char *row : rows) {
    std::istringstream in(row);
    for (unsigned id; in >> std::hex >> id;)
      expected.push_back(static_cast<std::uint16_t>(id));
  }
  EXPECT_EQ(std::vector<std::uint16_t>(kLanguageIds.begin(), kLanguageIds.end()), expected);
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
