#include "codec/integer_text.h"

namespace qm {

std::string InvalidIntegerMessage(std::string_view text) {
  std::string message = "'";
  message += text;
  message += "' is not a valid integer value";
  return message;
}

namespace {

int DigitValue(char c, int base) {
  int value = -1;
  if (c >= '0' && c <= '9')
    value = c - '0';
  else if (c >= 'a' && c <= 'f')
    value = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F')
    value = c - 'A' + 10;
  return value < base ? value : -1;
}

} // namespace

Result<std::int32_t> IntegerFromText(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  std::string_view rest = text.substr(i);
  if (rest.starts_with('$') || rest.starts_with('x') || rest.starts_with('X')) {
    base = 16;
    ++i;
  } else if (rest.starts_with("0x") || rest.starts_with("0X")) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) return Fail(InvalidIntegerMessage(text));
  // The magnitude may reach 2^31 for a negative number; anything beyond that
  // fails whatever the sign, so the sum never needs more than 64 bits.
  constexpr std::int64_t kLimit = std::int64_t{1} << 31;
  std::int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    int digit = DigitValue(text[i], base);
    if (digit < 0) return Fail(InvalidIntegerMessage(text));
    magnitude = magnitude * base + digit;
    if (magnitude > kLimit) return Fail(InvalidIntegerMessage(text));
  }
  if (!negative && magnitude == kLimit) return Fail(InvalidIntegerMessage(text));
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

} // namespace qm
