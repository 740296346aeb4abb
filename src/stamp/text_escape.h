#pragma once
// Text from files on its way to a terminal or a message line.
#include <cstddef>
#include <string>
#include <string_view>

namespace qm::stamp {

// UTF-8 text with every control character (C0, DEL, C1) and every line or
// direction control of Unicode written as an escape (\n, \t, \r, \xHH,
// \uHHHH), so what is printed is one line that shows what is stored.
std::string EscapeControls(std::string_view text);

// At most `limit` bytes of `text` (cut between characters), with "..."
// added when something was cut.
std::string Excerpt(std::string_view text, std::size_t limit);

} // namespace qm::stamp
