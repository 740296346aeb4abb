#pragma once
// Text to integer, by the runtime's rules that the editor's digit fields and
// the list texts go through when saving.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"

namespace qm {

// Accepts leading blanks, an optional sign, then decimal digits or a hex
// number introduced by "$", "x", "X", "0x" or "0X" (the sign may stand before
// the hex prefix: "-$10" is -16). Fails on the empty text, on any other
// character (trailing blanks included) and outside the signed 32-bit range,
// with InvalidIntegerMessage(text).
Result<std::int32_t> IntegerFromText(std::string_view text);

// "'<text>' is not a valid integer value"
std::string InvalidIntegerMessage(std::string_view text);

} // namespace qm
