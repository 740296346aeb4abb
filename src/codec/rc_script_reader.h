#pragma once
// A resource script holding one VERSIONINFO statement, read back into the
// general model: what a user wrote by hand or ToResourceScript printed.
//
// The script is preprocessed first (see rc_preprocessor.h).
// Read: LANGUAGE primary, sub (the resource's language); name VERSIONINFO
// with FILEVERSION, PRODUCTVERSION (up to four parts), FILEFLAGSMASK,
// FILEFLAGS, FILEOS, FILETYPE, FILESUBTYPE in any order; BEGIN/END or { };
// BLOCK "StringFileInfo" and "VarFileInfo" in any order and any number, each
// StringFileInfo holding tables of VALUE "key", "text" (adjacent literals
// joined), each VarFileInfo VALUE "Translation", language, code page, ...
// Numbers are decimal, hex or octal, with L or U suffixes, joined by
// | ^ & + - * / % << >> and parentheses, unary - ~ and casts such as (WORD),
// and the names of the headers carried here (VS_*, VOS_*, VFT_*, VFT2_*,
// LANG_*, SUBLANG_*) are known without a header. Everything else is refused
// with its line and column (Invalid).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "codec/rc_preprocessor.h"
#include "codec/version_info_reader.h"

namespace qm {

struct ParsedScript {
  VersionInfo Info; // with the fixed part a compiler writes: StrucVersion 0x10000, no file date
  bool HasLanguage = false;
  std::uint16_t Language = 0; // the LANGID of the last LANGUAGE before VERSIONINFO
  std::string Name;           // the resource's name as written ("1", "VS_VERSION_INFO")
};

struct ScriptOptions {
  // Skip other resource statements (ICON, STRINGTABLE, DIALOG ...: their
  // BEGIN/END block, or their line) instead of refusing them.
  bool OnlyVersion = false;
  std::vector<std::string> Defines;   // NAME or NAME=VALUE, as -D takes them
  std::vector<std::string> Undefines; // as -U takes them
  std::uint16_t CodePage = 1252;      // of plain literals until a #pragma code_page
  IncludeResolver *Resolver = nullptr;
  std::string Folder; // the script's own, searched first for its "..." includes
};

// Scripts larger than this are refused (TooLarge): a version resource is
// at most 64 KiB, and its script not much more.
inline constexpr std::size_t kMaxScriptBytes = 1u << 20;

Result<ParsedScript> ReadResourceScript(std::string_view text, const ScriptOptions &options = {});

} // namespace qm
