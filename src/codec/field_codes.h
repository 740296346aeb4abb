#pragma once
// The pairing of the File OS, File Type and File SubType lists and the flag
// check boxes with the numbers stored in a version block's fixed part.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace qm {

inline constexpr std::array<std::string_view, 14> kFileOsItems = {
    "UNKNOWN",
    "DOS",
    "OS/2 16",
    "OS/2 32",
    "NT",
    "WINDOWS16",
    "PM16",
    "PM32",
    "WINDOWS32",
    "DOS (WINDOWS16)",
    "DOS (WINDOWS32)",
    "OS/2 16 (PM16)",
    "OS/2 32 (PM32)",
    "NT (WINDOWS32)",
};

// dwFileOS of each File OS item, in list order (not in value order).
inline constexpr std::array<std::uint32_t, 14> kFileOsValues = {
    0x00000000, 0x00010000, 0x00020000, 0x00030000, 0x00040000, 0x00000001, 0x00000002,
    0x00000003, 0x00000004, 0x00010001, 0x00010004, 0x00020002, 0x00030003, 0x00040004,
};

inline constexpr std::array<std::string_view, 7> kFileTypeItems = {
    "UNKNOWN", "APP", "DLL", "DRV", "FONT", "VxD", "STATIC LIB",
};

// The last File Type item stands for 7; 6 has no item.
inline constexpr int kStaticLibIndex = 6;
inline constexpr std::uint32_t kStaticLibValue = 7;

inline constexpr std::array<std::string_view, 11> kSubTypeItems = {
    "UNKNOWN",     "DRV PRINTER", "DRV KEYBOARD",    "DRV LANGUAGE", "DRV DISPLAY", "DRV MOUSE",
    "DRV NETWORK", "DRV SYSTEM",  "DRV INSTALLABLE", "DRV SOUND",    "DRV COMM",
};

// dwFileFlags bits that have a check box; 0x04, 0x10 and everything above
// 0x20 have none.
inline constexpr std::uint32_t kFlagDebug = 0x01;
inline constexpr std::uint32_t kFlagPreRelease = 0x02;
inline constexpr std::uint32_t kFlagPrivate = 0x08;
inline constexpr std::uint32_t kFlagSpecial = 0x20;

// Encoding: the window passes the list's selected index (-1 for none) and,
// where the rule looks at it, the list's text.
std::uint32_t FileOsFromIndex(int index);
std::uint32_t FileTypeFromList(int index, std::string_view text);
std::uint32_t SubTypeFromList(int index, std::string_view text);
std::uint32_t FlagsFromBoxes(bool debug, bool preRelease, bool special, bool isPrivate);

// Decoding. A File OS value outside the table leaves the list as it is
// (empty optional). A file type or subtype is read as the item index (file
// type 7 as the last item); outside the list it gives -1, "no selection".
std::optional<int> FileOsIndexFromValue(std::uint32_t value);
int FileTypeIndexFromValue(std::uint32_t value);
int SubTypeIndexFromValue(std::uint32_t value);

} // namespace qm
