#pragma once
// The codes of a version block's fixed part (File OS, File Type, File
// SubType, the file flags), one table per field: each number with the text
// the editor's list or check box shows for it, which is also the name show
// prints, and for the flags the name the command line takes. The editor's
// pairing of list selections with numbers, show's names and the parsers of
// the command line and the JSON files all read these tables.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace qm {

// One list item: the number stored and the item's text, in list order.
struct CodeItem {
  std::uint32_t value;
  std::string_view text;
};

inline constexpr std::array<CodeItem, 14> kFileOsTable = {{
    {0x00000000, "UNKNOWN"},
    {0x00010000, "DOS"},
    {0x00020000, "OS/2 16"},
    {0x00030000, "OS/2 32"},
    {0x00040000, "NT"},
    {0x00000001, "WINDOWS16"},
    {0x00000002, "PM16"},
    {0x00000003, "PM32"},
    {0x00000004, "WINDOWS32"},
    {0x00010001, "DOS (WINDOWS16)"},
    {0x00010004, "DOS (WINDOWS32)"},
    {0x00020002, "OS/2 16 (PM16)"},
    {0x00030003, "OS/2 32 (PM32)"},
    {0x00040004, "NT (WINDOWS32)"},
}};

// The last item stands for 7; 6 has no item.
inline constexpr std::array<CodeItem, 7> kFileTypeTable = {{
    {0, "UNKNOWN"},
    {1, "APP"},
    {2, "DLL"},
    {3, "DRV"},
    {4, "FONT"},
    {5, "VxD"},
    {7, "STATIC LIB"},
}};
inline constexpr int kStaticLibIndex = 6;
inline constexpr std::uint32_t kStaticLibValue = 7;

inline constexpr std::array<CodeItem, 11> kSubTypeTable = {{
    {0, "UNKNOWN"},
    {1, "DRV PRINTER"},
    {2, "DRV KEYBOARD"},
    {3, "DRV LANGUAGE"},
    {4, "DRV DISPLAY"},
    {5, "DRV MOUSE"},
    {6, "DRV NETWORK"},
    {7, "DRV SYSTEM"},
    {8, "DRV INSTALLABLE"},
    {9, "DRV SOUND"},
    {10, "DRV COMM"},
}};

template <std::size_t N> constexpr std::array<std::string_view, N> ItemTexts(const std::array<CodeItem, N> &table) {
  std::array<std::string_view, N> texts{};
  for (std::size_t i = 0; i < N; ++i)
    texts[i] = table[i].text;
  return texts;
}

// The lists' texts, as the window fills them.
inline constexpr std::array<std::string_view, 14> kFileOsItems = ItemTexts(kFileOsTable);
inline constexpr std::array<std::string_view, 7> kFileTypeItems = ItemTexts(kFileTypeTable);
inline constexpr std::array<std::string_view, 11> kSubTypeItems = ItemTexts(kSubTypeTable);

inline constexpr std::uint32_t kFlagDebug = 0x01;
inline constexpr std::uint32_t kFlagPreRelease = 0x02;
inline constexpr std::uint32_t kFlagPatched = 0x04;
inline constexpr std::uint32_t kFlagPrivate = 0x08;
inline constexpr std::uint32_t kFlagInfoInferred = 0x10;
inline constexpr std::uint32_t kFlagSpecial = 0x20;

struct FlagItem {
  std::uint32_t bit;
  std::string_view boxName; // the editor's check box, and show's name; empty for a bit without a box
  std::string_view argName; // what set's --flag and --no-flag take
};

// The boxes in the order the window places them, then the bits without one;
// every bit above 0x20 has neither.
inline constexpr std::array<FlagItem, 6> kFileFlagsTable = {{
    {kFlagDebug, "Debug Build", "debug"},
    {kFlagPreRelease, "Pre-release", "prerelease"},
    {kFlagSpecial, "Special build", "specialbuild"},
    {kFlagPrivate, "Private build", "privatebuild"},
    {kFlagPatched, "", "patched"},
    {kFlagInfoInferred, "", "infoinferred"},
}};

// Encoding: the window passes the list's selected index (-1 for none) and,
// where the rule looks at it, the list's text.
std::uint32_t FileOsFromIndex(int index);
std::uint32_t FileTypeFromList(int index, std::string_view text);
std::uint32_t SubTypeFromList(int index, std::string_view text);
std::uint32_t FlagsFromBoxes(bool debug, bool preRelease, bool special, bool isPrivate);

// Decoding. A File OS value outside the table leaves the list as it is
// (empty optional). A file type or subtype is read as the item index (file
// type 7 as the last item, and 6, an index inside the list, as that item
// too); outside the list it gives -1, "no selection".
std::optional<int> FileOsIndexFromValue(std::uint32_t value);
int FileTypeIndexFromValue(std::uint32_t value);
int SubTypeIndexFromValue(std::uint32_t value);

// Show's names: the item whose number this is, if any (file type 6 has none).
std::optional<std::string> FileOsName(std::uint32_t value);
std::optional<std::string> FileTypeName(std::uint32_t value);
std::optional<std::string> FileSubTypeName(std::uint32_t value);
// The box names of the set bits in box order; bits without a box as one
// hexadecimal number (0x00000014) at the end.
std::vector<std::string> FlagNames(std::uint32_t flags);

// The number of the item whose text is exactly `text`, if any.
std::optional<std::uint32_t> CodeFromItemText(std::span<const CodeItem> table, std::string_view text);
// The items' texts, each quoted, separated by ", ".
std::string ItemList(std::span<const CodeItem> table);

// A number (kCodeSyntax) or the exact text of a list item; a refusal
// (ErrorKind::Invalid) quotes the text and lists the items.
Result<std::uint32_t> FileOsFromText(std::string_view text);
Result<std::uint32_t> FileTypeFromText(std::string_view text);
Result<std::uint32_t> FileSubTypeFromText(std::string_view text);

// A flag's command-line name, in any letter case.
Result<std::uint32_t> FlagBitFromName(std::string_view name);

} // namespace qm
