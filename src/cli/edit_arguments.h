#pragma once
// The command-line values of `set` and `apply`, read into the terms of an
// edit (codec/version_edit.h). Each refusal is a usage error that names the
// option and says what was wrong with the value. Texts must be valid UTF-8;
// nothing passes through an 8-bit code page.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"
#include "codec/version_edit.h"

namespace qm::cli {

Result<std::u16string> TextFromArgument(std::string_view text);
Result<StringChange> StringChangeFromArgument(std::string_view keyEqualsValue);
// [v]A[.B[.C[.D]]][TAIL] (codec/version_text.h), as --file-version and
// --product-version take it; the refusal names the option.
Result<WrittenVersion> WrittenVersionFromArgument(std::string_view option, std::string_view text);
// Exactly eight hexadecimal digits, such as 040904B0.
Result<std::u16string> TableKeyFromArgument(std::string_view text);
// Hexadecimal, with or without 0x, as language ids are written: 0409, 0x0C0A.
Result<std::uint16_t> LanguageFromArgument(std::string_view text);
// A number (decimal or 0x hexadecimal) or the exact text of a list item, as
// the fields file takes them.
Result<std::uint32_t> FileOsFromArgument(std::string_view text);
Result<std::uint32_t> FileTypeFromArgument(std::string_view text);
Result<std::uint32_t> FileSubTypeFromArgument(std::string_view text);

} // namespace qm::cli
