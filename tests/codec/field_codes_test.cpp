#include "codec/field_codes.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "codec/rc_script_names.h"

namespace qm {
namespace {

TEST(FieldCodes, FileOsItemsRoundTripThroughTheirValues) {
  for (int index = 0; index < static_cast<int>(kFileOsItems.size()); ++index) {
    std::optional<int> back = FileOsIndexFromValue(FileOsFromIndex(index));
    ASSERT_TRUE(back.has_value()) << kFileOsItems[index];
    EXPECT_EQ(*back, index) << kFileOsItems[index];
  }
}

// The lists' values against the header's names, which the script tests
// check against the toolchain's winver.h: "DRV SOUND" is VFT2_DRV_SOUND.
TEST(FieldCodes, TypeAndSubtypeItemsCarryTheHeadersValues) {
  const auto check = [](std::string_view prefix, const auto &table) {
    for (const CodeItem &item : table) {
      std::string name(prefix);
      for (char c : item.text)
        name += c == ' ' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      const auto known = std::find_if(KnownScriptNames().begin(), KnownScriptNames().end(),
                                      [&](const ScriptName &n) { return n.Name == name; });
      ASSERT_NE(known, KnownScriptNames().end()) << name;
      EXPECT_EQ(known->Value, item.value) << name;
    }
  };
  check("VFT_", kFileTypeTable);
  check("VFT2_", kSubTypeTable);
}

struct FileOsCase {
  int index;
  std::uint32_t value;
};
class FileOsEncoding : public testing::TestWithParam<FileOsCase> {};
TEST_P(FileOsEncoding, GivesTheTableValue) { EXPECT_EQ(FileOsFromIndex(GetParam().index), GetParam().value); }
INSTANTIATE_TEST_SUITE_P(Table, FileOsEncoding,
                         testing::Values(FileOsCase{-1, 0}, FileOsCase{0, 0}, FileOsCase{4, 0x40000}, FileOsCase{5, 1},
                                         FileOsCase{8, 4}, FileOsCase{13, 0x40004}, FileOsCase{14, 0},
                                         FileOsCase{9, 0x10001}));

TEST(FieldCodes, FileOsValueOutsideTheTableSelectsNothing) {
  EXPECT_FALSE(FileOsIndexFromValue(0x50000).has_value());
  EXPECT_FALSE(FileOsIndexFromValue(0x40005).has_value());
  EXPECT_EQ(FileOsIndexFromValue(0x40004), 13);
}

struct ListCase {
  int index;
  const char *text;
  std::uint32_t type;
  std::uint32_t subType;
};
class ListEncoding : public testing::TestWithParam<ListCase> {};
TEST_P(ListEncoding, FollowsSelectionAndText) {
  EXPECT_EQ(FileTypeFromList(GetParam().index, GetParam().text), GetParam().type);
  EXPECT_EQ(SubTypeFromList(GetParam().index, GetParam().text), GetParam().subType);
}
INSTANTIATE_TEST_SUITE_P(Table, ListEncoding,
                         testing::Values(ListCase{-1, "", 0, 0}, ListCase{2, "", 0, 0}, ListCase{0, "x", 0, 0},
                                         ListCase{2, "x", 2, 2}, ListCase{5, "x", 5, 5}, ListCase{6, "x", 7, 6},
                                         ListCase{10, "x", 10, 10}));

struct DecodeCase {
  std::uint32_t value;
  int typeIndex;
  int subTypeIndex;
};
class ListDecoding : public testing::TestWithParam<DecodeCase> {};
TEST_P(ListDecoding, PicksTheItemOrNone) {
  EXPECT_EQ(FileTypeIndexFromValue(GetParam().value), GetParam().typeIndex);
  EXPECT_EQ(SubTypeIndexFromValue(GetParam().value), GetParam().subTypeIndex);
}
INSTANTIATE_TEST_SUITE_P(Table, ListDecoding,
                         testing::Values(DecodeCase{0, 0, 0}, DecodeCase{2, 2, 2}, DecodeCase{3, 3, 3},
                                         DecodeCase{6, 6, 6}, DecodeCase{7, 6, 7}, DecodeCase{8, -1, 8},
                                         DecodeCase{10, -1, 10}, DecodeCase{11, -1, -1},
                                         DecodeCase{0xFFFFFFFF, -1, -1}));

TEST(FieldCodes, FlagsAddTheBitsOfTheBoxes) {
  EXPECT_EQ(FlagsFromBoxes(false, false, false, false), 0u);
  EXPECT_EQ(FlagsFromBoxes(true, true, true, true), 0x2Bu);
  EXPECT_EQ(FlagsFromBoxes(false, false, true, false), 0x20u);
  EXPECT_EQ(FlagsFromBoxes(false, false, false, true), 0x08u);
}

// Show's names and the command line's texts come from the same tables as
// the editor's lists.
struct NameCase {
  std::uint32_t value;
  const char *os, *type, *subType; // nullptr: no name
};
class CodeNames : public testing::TestWithParam<NameCase> {};
TEST_P(CodeNames, NameTheItemOfTheNumber) {
  const auto name = [](const std::optional<std::string> &n) { return n.value_or("(none)"); };
  const auto expected = [](const char *n) { return std::string(n ? n : "(none)"); };
  EXPECT_EQ(name(FileOsName(GetParam().value)), expected(GetParam().os));
  EXPECT_EQ(name(FileTypeName(GetParam().value)), expected(GetParam().type));
  EXPECT_EQ(name(FileSubTypeName(GetParam().value)), expected(GetParam().subType));
}
INSTANTIATE_TEST_SUITE_P(
    Table, CodeNames,
    testing::Values(NameCase{0, "UNKNOWN", "UNKNOWN", "UNKNOWN"}, NameCase{4, "WINDOWS32", "FONT", "DRV DISPLAY"},
                    NameCase{6, nullptr, nullptr, "DRV NETWORK"}, NameCase{7, nullptr, "STATIC LIB", "DRV SYSTEM"},
                    NameCase{10, nullptr, nullptr, "DRV COMM"}, NameCase{0x40004, "NT (WINDOWS32)", nullptr, nullptr}));

TEST(FieldCodes, FlagNamesInBoxOrderThenTheRestInHex) {
  EXPECT_EQ(FlagNames(0x3F),
            (std::vector<std::string>{"Debug Build", "Pre-release", "Special build", "Private build", "0x00000014"}));
  EXPECT_EQ(FlagNames(0x28), (std::vector<std::string>{"Special build", "Private build"}));
  EXPECT_TRUE(FlagNames(0).empty());
}

TEST(FieldCodes, TextsAreNumbersOrItemsAndFlagsAreNamed) {
  EXPECT_EQ(*FileOsFromText("NT (WINDOWS32)"), 0x40004u);
  EXPECT_EQ(*FileOsFromText("0x40004"), 0x40004u);
  EXPECT_EQ(*FileTypeFromText("STATIC LIB"), 7u);
  EXPECT_EQ(*FileSubTypeFromText("DRV COMM"), 10u);
  for (auto refused : {FileOsFromText("WINDOWS64"), FileTypeFromText("0x1FFFFFFFF"), FileSubTypeFromText("app")}) {
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.kind(), ErrorKind::Invalid);
    EXPECT_NE(refused.error().find("is neither a number"), std::string::npos) << refused.error();
  }
  EXPECT_EQ(*FlagBitFromName("PreRelease"), kFlagPreRelease);
  EXPECT_EQ(*FlagBitFromName("infoinferred"), kFlagInfoInferred);
  EXPECT_FALSE(FlagBitFromName("private"));
}

} // namespace
} // namespace qm
