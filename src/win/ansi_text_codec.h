#pragma once
// The conversion the window uses between its 8-bit texts and the UTF-16 of
// version blocks: the system's ANSI code page, as the platform converts it.
#include "codec/text_codec.h"

namespace qm::win {

class AnsiTextCodec final : public TextCodec {
public:
  std::u16string ToUtf16(std::string_view text) const override;
  // Characters the code page lacks become its default character.
  std::string FromUtf16(std::u16string_view text) const override;
};

// A name in the system's code page, every character it lacks given as "?"
// rather than as a look-alike letter, so that a name the code page cannot
// carry never turns into the name of another file.
std::string NameInCodePage(std::u16string_view name);

} // namespace qm::win
