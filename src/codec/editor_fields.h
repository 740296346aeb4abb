#pragma once
// The editor's rules that need no window: what the controls' texts become
// when saving, and the text of the "FileVersion" row that follows the file
// version's up-downs. The window reads its controls into EditorTexts and
// hands them here, so the rules are tested natively.
#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "codec/version_fields.h"

namespace qm {

// The key of the row that follows the file version.
inline constexpr std::string_view kFileVersionKey = "FileVersion";
inline constexpr std::string_view kSpecialBuildKey = "SpecialBuild";
inline constexpr std::string_view kPrivateBuildKey = "PrivateBuild";

// The controls as they stand when a save begins.
struct EditorTexts {
  int FileTypeIndex = -1; // a list's selected index, -1 for none
  std::string FileTypeText;
  int SubTypeIndex = -1;
  std::string SubTypeText;
  std::string LanguageItem; // the language list's current text
  std::string CodePageItem;
  // File Major, Minor, Release, Build, then the product's, as typed.
  std::array<std::string, 8> VersionTexts;
  std::vector<StringRow> Rows; // the grid below its header row
  bool Debug = false;
  bool PreRelease = false;
  bool Special = false;
  bool Private = false;
  int FileOsIndex = -1;
};

// Every value the encoder takes. The version texts are converted in order and
// the first that is no integer ends the collection with the runtime's message
// ("'' is not a valid integer value"); a number keeps its low 16 bits.
// Language and code page stay texts: the encoder converts them.
Result<VersionFields> CollectVersionFields(const EditorTexts &texts);

// The four file version texts joined by ".", Build being the fourth.
std::string FileVersionRowText(std::string_view major, std::string_view minor, std::string_view release,
                               std::string_view build);

// Index into rows of the first row keyed exactly `key`, if any.
std::optional<std::size_t> FirstRowKeyed(std::span<const StringRow> rows, std::string_view key);

} // namespace qm
