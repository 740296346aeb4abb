#pragma once
// Which characters the code page a StringTable names (in its key and its
// translation) can hold: a reader that turns the table's UTF-16 into that
// code page shows '?' or a look-alike for the rest.
//
// Held without a table: the Unicode pages (1200, 1201, 12000, 12001, 65000,
// 65001), and the double-byte pages of East Asia (932, 936, 949, 950, 1361),
// which are not checked rather than checked wrongly. Checked with a table of
// their upper half: the single-byte Windows pages 1250 to 1258 and the DOS
// pages 437 and 850. Every other page, 0 (7-bit ASCII) included, is taken to
// hold ASCII only.
#include <cstdint>
#include <optional>
#include <string_view>

namespace qm {

// Whether the code page is one of those listed above (0 and the pages taken
// as ASCII only are not).
bool IsKnownCodePage(std::uint16_t codePage);

// The first character of `text` the code page cannot hold (a surrogate pair
// as one code point, a lone surrogate as itself), or none.
std::optional<char32_t> FirstCharacterOutside(std::uint16_t codePage, std::u16string_view text);

} // namespace qm
