#pragma once
// A version resource as a resource script: one VERSIONINFO statement that
// the mingw resource compiler (windres) and llvm-rc compile back to the same
// information, with no include path and no header.
//
// The fixed fields are written as numbers with their winver.h names in a
// comment after them ("FILEOS 0x40004 // VOS_NT_WINDOWS32"): a script that
// used the names would need winver.h or #define lines of its own, and the
// defines would clash with winver.h's spelling when a user includes it.
//
// What a script cannot say, and so does not survive the way back:
// - a block without a fixed part (VERSIONINFO always writes one), the
//   fixed part's StrucVersion (compilers write 0x10000) and file date (0);
// - a value's exact length and anything after its first NUL: compilers
//   count the characters plus one terminator and stop a literal at \0;
// - a StringTable key that is not plain ASCII (BLOCK takes no L"..." name);
// - the order of StringFileInfo and VarFileInfo, and of several of each:
//   the script holds one of each, strings first.
#include <cstdint>
#include <string>

#include "base/result.h"
#include "codec/version_info_reader.h"

namespace qm {

// language is the resource's LANGID, written as LANGUAGE primary, sub; id is
// the resource's name. Fails (Invalid) on a key or value holding a NUL and on
// a table key outside printable ASCII.
Result<std::string> ToResourceScript(const VersionInfo &info, std::uint16_t language, std::uint16_t id = 1);

// One literal as resource compilers read it: plain "..." for ASCII, quotes
// doubled, backslash escapes, other control characters as three-digit octal;
// L"..." with four-digit \x escapes when any unit is outside ASCII.
std::string ScriptLiteral(std::u16string_view text);

} // namespace qm
