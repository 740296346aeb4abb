#pragma once
// The two values every reader and writer of a version block deals in: a
// String entry and a translation pair. The editor's codec and the general
// model both hold them, so they live apart from either.
#include <cstdint>
#include <string>

namespace qm {

struct DecodedString {
  std::u16string Key;
  std::u16string Value;
  friend bool operator==(const DecodedString &, const DecodedString &) = default;
};

struct Translation {
  std::uint16_t Language = 0;
  std::uint16_t CodePage = 0;
};

} // namespace qm
