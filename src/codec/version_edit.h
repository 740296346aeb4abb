#pragma once
// A change to a module's version information, and how it lands in the
// whole VersionInfo: only what was asked for changes, every other string,
// table and translation stays as it was.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "codec/version_info.h"
#include "codec/version_text.h"

namespace qm {

struct StringChange {
  std::u16string Key;
  std::u16string Value;
};

struct VersionEdit {
  std::optional<VersionParts> FileVersion;    // Major, Minor, Release, Build
  std::optional<VersionParts> ProductVersion; // likewise
  // What every table's "FileVersion" ("ProductVersion") string takes, the
  // fixed part aside. Without it, a fixed version above writes its four
  // numbers there; with it, the string is this text whether or not the fixed
  // version changes. A change in Strings of the same key still comes after.
  std::optional<std::u16string> FileVersionText, ProductVersionText;
  std::vector<StringChange> Strings;   // in the order given; a later one wins
  std::vector<std::u16string> Removed; // keys whose every entry goes
  std::optional<std::u16string> Table; // only this StringTable (upper case)
  std::uint32_t FlagsOn = 0, FlagsOff = 0;
  std::optional<std::uint32_t> FileOs, FileType, FileSubType;

  bool ChangesFixedPart() const;
  bool ChangesStrings() const;
  // "FileVersion" and "ProductVersion" where the edit sets them.
  std::vector<StringChange> VersionStrings() const;
};

// One version of an edit as the command line gives it: `written` (such as
// --file-version's value) sets the fixed numbers and the string's text;
// `ownText` (such as --file-version-string's) sets the string alone and wins
// over the written text, whose numbers still go to the fixed part.
void TakeVersion(const std::optional<WrittenVersion> &written, const std::optional<std::u16string> &ownText,
                 std::optional<VersionParts> &parts, std::optional<std::u16string> &text);

// Keys are compared as the platform's version lookup compares them: ASCII
// letters without regard to case.
bool SameKey(std::u16string_view a, std::u16string_view b);

// Eight hexadecimal digits, as a StringTable's key names its language and
// code page.
bool IsTableKey(std::u16string_view key);
// The language and code page a table key names; none for a key that is not
// eight hexadecimal digits.
std::optional<Translation> TranslationOfKey(std::u16string_view key);
// A table key from text, its letters made upper case; refused
// (ErrorKind::Invalid) when it is not eight hexadecimal digits.
Result<std::u16string> TableKeyFromText(std::string_view text);
// A language id of one to four hexadecimal digits, with or without 0x, as
// language ids are written: 0409, 0x0C0A; refused with ErrorKind::Invalid.
Result<std::uint16_t> LanguageFromText(std::string_view text);

// Applies edit to info, a version resource stored under resourceLanguage
// (which names a StringTable the information needs and lacks).
void ApplyEdit(const VersionEdit &edit, std::uint16_t resourceLanguage, VersionInfo &info);

// The version information a module without one gets before the edit: a
// fixed part for the platform (NT, Win32; an application or a library), one
// empty StringTable (tableKey, else the language with code page 1200) and
// its translation.
VersionInfo NewVersionInfo(std::uint16_t language, bool isLibrary, const std::optional<std::u16string> &tableKey);

} // namespace qm
