#include "codec/integer_text.h"

namespace qm {

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

std::string InvalidIntegerMessage(std::string_view text) {
  std::string message = "'";
  message += text;
  message += "' is not a valid integer value";
  return message;
}

ParsedNumber ParseNumber(std::string_view text, NumberSyntax syntax) {
  int base = syntax.base;
  if (syntax.hexPrefix && (text.starts_with("0x") || text.starts_with("0X"))) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty() || (syntax.maxDigits != 0 && text.size() > syntax.maxDigits)) return {0, NumberFault::NotANumber};
  ParsedNumber parsed;
  for (char c : text) {
    const int digit = DigitValue(c, base);
    if (digit < 0) return {0, NumberFault::NotANumber};
    // Past the limit the value stops growing, so any length of digits
    // is read without overflow and still checked to the end.
    if (parsed.fault == NumberFault::None) parsed.value = parsed.value * static_cast<unsigned>(base) + digit;
    if (parsed.value > syntax.max) parsed.fault = NumberFault::TooLarge;
  }
  return parsed;
}

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
    rest.remove_prefix(1);
  } else if (rest.starts_with("0x") || rest.starts_with("0X")) {
    base = 16;
    rest.remove_prefix(2);
  }
  // The magnitude may reach 2^31 for a negative number only.
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 31;
  const ParsedNumber magnitude = ParseNumber(rest, {base, false, 0, kLimit});
  if (!magnitude || (!negative && magnitude.value == kLimit))
    return Fail(ErrorKind::Invalid, InvalidIntegerMessage(text));
  return static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(magnitude.value)
                                            : static_cast<std::int64_t>(magnitude.value));
}

} // namespace qm
