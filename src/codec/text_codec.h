#pragma once
// Conversion between 8-bit text and the UTF-16 that version blocks hold.
//
// The window supplies a converter over the system's ANSI code page; the
// portable core carries Windows-1252 (the code page of the native build and
// of the tests) and UTF-8 for the command-line tool.
#include <string>
#include <string_view>

namespace qm {

class TextCodec {
public:
  virtual ~TextCodec() = default;
  virtual std::u16string ToUtf16(std::string_view text) const = 0;
  // Characters the 8-bit code page lacks become its replacement character.
  virtual std::string FromUtf16(std::u16string_view text) const = 0;
};

class Windows1252Codec final : public TextCodec {
public:
  std::u16string ToUtf16(std::string_view text) const override;
  std::string FromUtf16(std::u16string_view text) const override; // '?' for what 1252 lacks
};

class Utf8Codec final : public TextCodec {
public:
  std::u16string ToUtf16(std::string_view text) const override;
  std::string FromUtf16(std::u16string_view text) const override;
};

// Malformed UTF-8 and lone surrogates become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

} // namespace qm
