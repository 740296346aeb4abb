#pragma once
// What the editor can tell from a path's 8-bit text alone. Plain text in,
// so it is tested without Windows.
#include <cstddef>
#include <string_view>

namespace qm::win {

// The longest path the platform takes, in UTF-16 units, and the bytes it can
// take in the 8-bit code page: three a unit in UTF-8, fewer in any other.
inline constexpr std::size_t kLongestPathUnits = 32767;
inline constexpr std::size_t kLongestPathBytes = 3 * kLongestPathUnits;

// Whether the path came through the code page with stand-ins: it holds "?"
// or "*", which no file name can hold and which the platform writes for a
// character the code page lacks. The prefixes "\\?\" and "\\.\" are no
// stand-ins.
bool HoldsStandIns(std::string_view path);

} // namespace qm::win
