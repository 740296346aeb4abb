#pragma once
// What in a version resource makes the platform's readers (Explorer's file
// properties, the version API's lookups) show something other than its
// author meant. Each kind of finding has an id that scripts match on: the
// ids are published (README, manual page) and never change.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "codec/version_info.h"

namespace qm {

enum class LintId {
  TranslationWithoutTable, // a translation names a StringTable that is not there
  TableWithoutTranslation, // a StringTable no translation names
  VersionStringMismatch,   // "FileVersion"/"ProductVersion" numbers other than the fixed part's
  VersionStringInvalid,    // "FileVersion"/"ProductVersion" that does not start with a version
  SeveralLanguages,        // the resource is stored in more than one language
  MissingKey,              // a usual key a table lacks
  EmptyValue,              // a usual key with an empty value
  DuplicateKey,            // a key given again in one table
  TextOutsideCodePage,     // a text the table's code page cannot hold
  FlagsOutsideMask,        // file flags set outside the flags mask
  FileTypeMismatch,        // DLL on a program, APP on a library
};

inline constexpr std::array kLintIds{
    LintId::TranslationWithoutTable,
    LintId::TableWithoutTranslation,
    LintId::VersionStringMismatch,
    LintId::VersionStringInvalid,
    LintId::SeveralLanguages,
    LintId::MissingKey,
    LintId::EmptyValue,
    LintId::DuplicateKey,
    LintId::TextOutsideCodePage,
    LintId::FlagsOutsideMask,
    LintId::FileTypeMismatch,
};

// The published id, such as "missing-key".
std::string_view LintIdName(LintId id);

struct LintFinding {
  LintId Id;
  std::string Message;                 // one line, UTF-8, outside texts quoted
  std::optional<std::u16string> Table; // the StringTable's key, where the finding is about one
  std::optional<std::u16string> Key;   // the string's key, where it is about one
};

// What is known of the file the version resource came from.
struct ModuleFacts {
  std::vector<std::uint16_t> Languages; // the languages holding a version resource, where known
  std::optional<bool> IsLibrary;        // a module's DLL characteristic; none for a block or .res
};

// Every finding: the links between tables and translations, the version
// strings, the languages, the keys, the code pages, then the fixed part;
// within each, in the order of the tables and their strings.
std::vector<LintFinding> LintVersionInfo(const VersionInfo &info, const ModuleFacts &facts);

} // namespace qm
