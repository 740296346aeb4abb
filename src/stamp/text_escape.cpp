#include "stamp/text_escape.h"

#include <cstdint>
#include <cstdio>

namespace qm::stamp {
namespace {

std::string Escaped(const char *format, unsigned value) {
  char text[12];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Code points that move the cursor or reorder text: line and paragraph
// separators, and the bidirectional embeddings, overrides and isolates.
bool IsLayoutControl(std::uint32_t c) {
  return c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E ||
         c == 0x200F || c == 0x061C;
}

} // namespace

std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      out += c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : Escaped("\\x%02X", c);
      ++i;
      continue;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    // A well-formed two- or three-byte sequence may be a control of its own.
    std::uint32_t point = 0;
    std::size_t length = 0;
    if ((c & 0xE0) == 0xC0 && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
      point = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
      length = 2;
    } else if ((c & 0xF0) == 0xE0 && i + 2 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80 &&
               (static_cast<unsigned char>(text[i + 2]) & 0xC0) == 0x80) {
      point = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6) |
              (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
      length = 3;
    }
    if (length != 0 && ((point >= 0x80 && point <= 0x9F) || IsLayoutControl(point))) {
      out += Escaped("\\u%04X", point);
      i += length;
      continue;
    }
    out += static_cast<char>(c);
    ++i;
  }
  return out;
}

std::string Excerpt(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return std::string(text);
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
    --cut;
  return std::string(text.substr(0, cut)) + "...";
}

} // namespace qm::stamp
