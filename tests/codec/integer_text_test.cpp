#include "codec/integer_text.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

struct GoodCase {
  const char *text;
  std::int32_t value;
};
class IntegerAccepted : public testing::TestWithParam<GoodCase> {};
TEST_P(IntegerAccepted, ConvertsToTheNumber) {
  Result<std::int32_t> value = IntegerFromText(GetParam().text);
  ASSERT_TRUE(value) << GetParam().text;
  EXPECT_EQ(*value, GetParam().value) << GetParam().text;
}
INSTANTIATE_TEST_SUITE_P(Table, IntegerAccepted,
                         testing::Values(GoodCase{"0", 0}, GoodCase{"  12", 12}, GoodCase{"+7", 7}, GoodCase{"-5", -5},
                                         GoodCase{"0037", 37}, GoodCase{"$FF", 255}, GoodCase{"$0809", 0x0809},
                                         GoodCase{"x10", 16}, GoodCase{"X1a", 26}, GoodCase{"0x10", 16},
                                         GoodCase{"0XfF", 255}, GoodCase{"-$10", -16},
                                         GoodCase{" +0x7FFFFFFF", 2147483647}, GoodCase{"2147483647", 2147483647},
                                         GoodCase{"-2147483648", -2147483647 - 1},
                                         GoodCase{"-$80000000", -2147483647 - 1}, GoodCase{"70000", 70000},
                                         GoodCase{"000000000000000000001", 1}));

class IntegerRefused : public testing::TestWithParam<const char *> {};
TEST_P(IntegerRefused, FailsWithTheRuntimeMessage) {
  Result<std::int32_t> value = IntegerFromText(GetParam());
  ASSERT_FALSE(value) << GetParam();
  EXPECT_EQ(value.error(), "'" + std::string(GetParam()) + "' is not a valid integer value");
}
INSTANTIATE_TEST_SUITE_P(Table, IntegerRefused,
                         testing::Values("", " ", "12 ", "1 2", "$", "x", "0x", "+", "-", "--1", "$-1", "0x-1", "\t1",
                                         "1.0", "2147483648", "-2147483649", "99999999999", "$80000000", "$FFFFFFFF",
                                         "0x1G", "12a", "$ 12"));

struct NumberCase {
  const char *text;
  NumberSyntax syntax;
  NumberFault fault;
  std::uint64_t value;
};
class NumberParsed : public testing::TestWithParam<NumberCase> {};
TEST_P(NumberParsed, FollowsItsSyntax) {
  const ParsedNumber parsed = ParseNumber(GetParam().text, GetParam().syntax);
  EXPECT_EQ(parsed.fault, GetParam().fault) << GetParam().text;
  if (parsed) {
    EXPECT_EQ(parsed.value, GetParam().value) << GetParam().text;
  }
}
INSTANTIATE_TEST_SUITE_P(Table, NumberParsed,
                         testing::Values(NumberCase{"0x1F", kCodeSyntax, NumberFault::None, 31},
                                         NumberCase{"4294967295", kCodeSyntax, NumberFault::None, 0xFFFFFFFF},
                                         NumberCase{"4294967296", kCodeSyntax, NumberFault::TooLarge, 0},
                                         NumberCase{"0x1FFFFFFFF", kCodeSyntax, NumberFault::TooLarge, 0},
                                         NumberCase{"12345678901", kCodeSyntax, NumberFault::NotANumber, 0},
                                         NumberCase{"0x", kCodeSyntax, NumberFault::NotANumber, 0},
                                         NumberCase{"1F", kCodeSyntax, NumberFault::NotANumber, 0},
                                         NumberCase{"0c0a", kLanguageSyntax, NumberFault::None, 0x0C0A},
                                         NumberCase{"0X0C0A", kLanguageSyntax, NumberFault::None, 0x0C0A},
                                         NumberCase{"10409", kLanguageSyntax, NumberFault::NotANumber, 0},
                                         NumberCase{"65535", kVersionPartSyntax, NumberFault::None, 65535},
                                         NumberCase{"99999", kVersionPartSyntax, NumberFault::TooLarge, 0},
                                         NumberCase{"000001", kVersionPartSyntax, NumberFault::NotANumber, 0},
                                         NumberCase{"9999x", kVersionPartSyntax, NumberFault::NotANumber, 0},
                                         NumberCase{"0x10", kVersionPartSyntax, NumberFault::NotANumber, 0},
                                         NumberCase{"", kVersionPartSyntax, NumberFault::NotANumber, 0}));

TEST(IntegerText, RefusalIsAnInvalidValue) { EXPECT_EQ(IntegerFromText("12a").kind(), ErrorKind::Invalid); }

} // namespace
} // namespace qm
