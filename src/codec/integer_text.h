#pragma once
// Text to integer: one digit reader with the rules each caller needs (base,
// prefix, width, limit), and on it the runtime's rules that the editor's
// digit fields and the list texts go through when saving.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"

namespace qm {

struct NumberSyntax {
  int base = 10;             // of digits without a prefix: 10 or 16
  bool hexPrefix = false;    // "0x" or "0X" before at least one more character reads hexadecimal
  std::size_t maxDigits = 0; // digits after any prefix; 0 for any number
  std::uint64_t max = 0xFFFFFFFFu;
};

// A code of the fixed part on the command line or in show's JSON: decimal,
// or 0x and hexadecimal; up to ten digits and 32 bits.
inline constexpr NumberSyntax kCodeSyntax{10, true, 10, 0xFFFFFFFFu};
// A language id: one to four hexadecimal digits, with or without 0x.
inline constexpr NumberSyntax kLanguageSyntax{16, true, 4, 0xFFFF};
// One component of Major.Minor.Release.Build: one to five decimal digits.
inline constexpr NumberSyntax kVersionPartSyntax{10, false, 5, 0xFFFF};

enum class NumberFault { None, NotANumber, TooLarge };

struct ParsedNumber {
  std::uint64_t value = 0;
  NumberFault fault = NumberFault::None;
  explicit operator bool() const { return fault == NumberFault::None; }
};

// The whole text as one number: no blanks, no sign. Too many digits or a
// character that is no digit of the base is NotANumber, which wins over
// TooLarge (a value above syntax.max).
ParsedNumber ParseNumber(std::string_view text, NumberSyntax syntax);

// Accepts leading blanks, an optional sign, then decimal digits or a hex
// number introduced by "$", "x", "X", "0x" or "0X" (the sign may stand before
// the hex prefix: "-$10" is -16). Fails (ErrorKind::Invalid) on the empty
// text, on any other character (trailing blanks included) and outside the
// signed 32-bit range, with InvalidIntegerMessage(text).
// The value of digit `c` in `base` (up to 16, either case), or -1.
int DigitValue(char c, int base);

Result<std::int32_t> IntegerFromText(std::string_view text);

// "'<text>' is not a valid integer value"
std::string InvalidIntegerMessage(std::string_view text);

} // namespace qm
