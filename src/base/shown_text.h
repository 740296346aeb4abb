#pragma once
// Text from outside the program (a module's keys and names, a JSON file, the
// command line, a file name) on its way into a message line or onto a
// terminal. Every message that names such a text goes through Shown or
// Quoted, so what is printed is one line of bounded length that shows what
// is stored: a newline cannot forge a line of its own, an escape sequence
// cannot reach the terminal, a 40000-character key cannot fill the screen.
// Header-only, since the readers of the core quote module texts too.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace qm {

// Long enough for any sensible path, short enough to keep a message one
// readable line.
inline constexpr std::size_t kQuotedLimit = 300;
// For a key or name among several in one message.
inline constexpr std::size_t kShortQuotedLimit = 64;

namespace shown_text_detail {

inline std::string Escaped(const char *format, unsigned value) {
  char text[12];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Code points that move the cursor or reorder text: line and paragraph
// separators, and the bidirectional marks, embeddings, overrides and
// isolates.
inline bool IsLayoutControl(std::uint32_t c) {
  return c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E ||
         c == 0x200F || c == 0x061C;
}

inline bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The character at text[i] as it is shown, appended to `out`; gives the
// number of bytes it took. A well-formed sequence is one piece, so a cut
// between pieces never splits a character.
inline std::size_t AppendPiece(std::string_view text, std::size_t i, std::string &out) {
  const auto c = static_cast<unsigned char>(text[i]);
  if (c < 0x20 || c == 0x7F) {
    out += c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : Escaped("\\x%02X", c);
    return 1;
  }
  std::size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
  for (std::size_t k = 1; k < length; ++k) {
    if (i + k >= text.size() || !IsContinuation(text[i + k])) length = 1; // not well formed: a byte as it is
  }
  if (length == 2 || length == 3) {
    const std::uint32_t point = length == 2
                                    ? ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu)
                                    : ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6) |
                                          (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
    if ((point >= 0x80 && point <= 0x9F) || IsLayoutControl(point)) {
      out += Escaped("\\u%04X", point);
      return length;
    }
  }
  out.append(text.substr(i, length));
  return length;
}

} // namespace shown_text_detail

// UTF-8 text with every control character (C0, DEL, C1) and every line or
// direction control of Unicode written as an escape (\n, \t, \r, \xHH,
// \uHHHH). A backslash is left as it is, so escaping twice changes nothing.
inline std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();)
    i += shown_text_detail::AppendPiece(text, i, out);
  return out;
}

// At most `limit` bytes of `text` (cut between characters), with "..."
// added when something was cut.
inline std::string Excerpt(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return std::string(text);
  std::size_t cut = limit;
  while (cut > 0 && shown_text_detail::IsContinuation(text[cut]))
    --cut;
  return std::string(text.substr(0, cut)) + "...";
}

// `text` escaped as EscapeControls does, cut between characters so that
// the escaped form takes at most `limit` bytes, with "..." added when
// something was cut. Only the part shown is looked at.
inline std::string Shown(std::string_view text, std::size_t limit = kQuotedLimit) {
  std::string out, piece;
  for (std::size_t i = 0; i < text.size();) {
    piece.clear();
    const std::size_t taken = shown_text_detail::AppendPiece(text, i, piece);
    if (out.size() + piece.size() > limit) return out + "...";
    out += piece;
    i += taken;
  }
  return out;
}

// Shown between single quotes: how a message names a file or a text.
// Built by appending: GCC 12 at -O2 and above warns (-Wrestrict, a false
// positive) on a literal put before a moved std::string, as "'" + Shown(...)
// would be.
inline std::string Quoted(std::string_view text, std::size_t limit = kQuotedLimit) {
  std::string quoted(1, '\'');
  quoted += Shown(text, limit);
  quoted += '\'';
  return quoted;
}

} // namespace qm
