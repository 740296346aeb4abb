#pragma once
// What `set` changes in a module's version information, and how each change
// lands in the whole VersionInfo: only what was asked for changes, every
// other string, table and translation stays as it was.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "codec/version_info_reader.h"

namespace qm::cli {

struct StringChange {
  std::u16string Key;
  std::u16string Value;
};

struct VersionEdit {
  std::optional<std::array<std::uint16_t, 4>> FileVersion;    // Major, Minor, Release, Build
  std::optional<std::array<std::uint16_t, 4>> ProductVersion; // likewise
  std::vector<StringChange> Strings;                          // in the order given; a later one wins
  std::vector<std::u16string> Removed;                        // keys whose every entry goes
  std::optional<std::u16string> Table;                        // only this StringTable (upper case)
  std::uint32_t FlagsOn = 0, FlagsOff = 0;
  std::optional<std::uint32_t> FileOs, FileType, FileSubType;

  bool ChangesFixedPart() const;
  bool ChangesStrings() const;
};

// Command-line values. Each refusal says what was wrong with the value.
// Texts must be valid UTF-8; nothing passes through an 8-bit code page.
Result<std::u16string> TextFromArgument(std::string_view text);
Result<StringChange> StringChangeFromArgument(std::string_view keyEqualsValue);
// Exactly eight hexadecimal digits, such as 040904B0.
Result<std::u16string> TableKeyFromArgument(std::string_view text);
// Hexadecimal, with or without 0x, as language ids are written: 0409, 0x0C0A.
Result<std::uint16_t> LanguageFromArgument(std::string_view text);
// debug, prerelease, patched, privatebuild, specialbuild, infoinferred.
Result<std::uint32_t> FlagBitFromName(std::string_view name);
// A number (decimal or 0x hexadecimal) or the exact text of a list item, as
// the fields file takes them.
Result<std::uint32_t> FileOsFromArgument(std::string_view text);
Result<std::uint32_t> FileTypeFromArgument(std::string_view text);
Result<std::uint32_t> FileSubTypeFromArgument(std::string_view text);

// Keys are compared as the platform's version lookup compares them: ASCII
// letters without regard to case.
bool SameKey(std::u16string_view a, std::u16string_view b);

// "1.2.3.4", as the "FileVersion" and "ProductVersion" strings carry it.
std::u16string VersionString(const std::array<std::uint16_t, 4> &parts);

// Applies edit to info, a version resource stored under resourceLanguage
// (which names a StringTable the information needs and lacks).
void ApplyEdit(const VersionEdit &edit, std::uint16_t resourceLanguage, VersionInfo &info);

// The version information a module without one gets before the edit: a
// fixed part for the platform (NT, Win32; an application or a library), one
// empty StringTable (tableKey, else the language with code page 1200) and
// its translation.
VersionInfo NewVersionInfo(std::uint16_t language, bool isLibrary, const std::optional<std::u16string> &tableKey);

} // namespace qm::cli
