#pragma once
// The language and code page lists: the language identifiers the window
// offers, the fixed code page items, and the text rules that tie an item's
// text to the number stored in a version block.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qm {

// The first language item, always present; the reset selects it.
inline constexpr std::string_view kUndefinedLanguageItem = "Undefined - $0000";

// Language names equal to this (exactly, case included) get no item.
inline constexpr std::string_view kLanguageNeutralName = "Language Neutral";

// The identifiers the language list offers, in list order.
inline constexpr std::array<std::uint16_t, 223> kLanguageIds = {
    0x0436, 0x041C, 0x045E, 0x0401, 0x1401, 0x3C01, 0x0C01, 0x0801, 0x2C01, 0x3401, 0x3001, 0x1001, 0x1801, 0x2001,
    0x4001, 0x2801, 0x1C01, 0x3801, 0x2401, 0x042B, 0x044D, 0x082C, 0x042C, 0x042D, 0x0423, 0x0445, 0x0845, 0x141A,
    0x0402, 0x0455, 0x0403, 0x045C, 0x0804, 0x1004, 0x0404, 0x0C04, 0x1404, 0x041A, 0x101A, 0x0405, 0x0406, 0x0465,
    0x0413, 0x0813, 0x0466, 0x0409, 0x0809, 0x0C09, 0x2809, 0x1009, 0x2409, 0x3C09, 0x4009, 0x3809, 0x1809, 0x2009,
    0x4409, 0x1409, 0x3409, 0x4809, 0x1C09, 0x2C09, 0x3009, 0x0425, 0x0438, 0x0429, 0x0464, 0x040B, 0x040C, 0x080C,
    0x2C0C, 0x0C0C, 0x240C, 0x300C, 0x3C0C, 0x140C, 0x340C, 0x180C, 0x380C, 0xE40C, 0x200C, 0x280C, 0x100C, 0x1C0C,
    0x0462, 0x0467, 0x042F, 0x083C, 0x043C, 0x0456, 0x0437, 0x0407, 0x0C07, 0x1407, 0x1007, 0x0807, 0x0408, 0x0474,
    0x0447, 0x0468, 0x0475, 0x040D, 0x0439, 0x040E, 0x0469, 0x040F, 0x0470, 0x0421, 0x045D, 0x0410, 0x0810, 0x0411,
    0x044B, 0x0471, 0x0860, 0x0460, 0x043F, 0x0453, 0x0457, 0x0412, 0x0440, 0x0454, 0x0476, 0x0426, 0x0427, 0x043E,
    0x083E, 0x044C, 0x043A, 0x0458, 0x0481, 0x044E, 0x0450, 0x0850, 0x0461, 0x0861, 0x0414, 0x0814, 0x0448, 0x0472,
    0x0479, 0x0463, 0x0415, 0x0416, 0x0816, 0x0446, 0x0846, 0x046B, 0x086B, 0x0C6B, 0x0417, 0x0418, 0x0818, 0x0419,
    0x0819, 0x043B, 0x044F, 0x046C, 0x0C1A, 0x081A, 0x0459, 0x0859, 0x045B, 0x041B, 0x0424, 0x0477, 0x042E, 0x0C0A,
    0x040A, 0x2C0A, 0x400A, 0x340A, 0x240A, 0x140A, 0x1C0A, 0x300A, 0x440A, 0x100A, 0x480A, 0xE40A, 0x080A, 0x4C0A,
    0x180A, 0x3C0A, 0x280A, 0x500A, 0x540A, 0x380A, 0x200A, 0x0430, 0x0441, 0x041D, 0x081D, 0x045A, 0x0428, 0x045F,
    0x085F, 0x0449, 0x0444, 0x044A, 0x041E, 0x0851, 0x0451, 0x0873, 0x0473, 0x0431, 0x0432, 0x041F, 0x0442, 0x0480,
    0x0422, 0x0420, 0x0820, 0x0843, 0x0443, 0x0433, 0x042A, 0x0452, 0x0434, 0x0478, 0x043D, 0x046A, 0x0435,
};

// The code page items, exactly as the list shows them (doubled blanks
// included); each ends in "- " and four decimal digits.
inline constexpr std::array<std::string_view, 38> kCodePageItems = {
    "EBCDIC - 0037",
    "MS-DOS  United States - 0437",
    "EBCDIC \"500V1\" - 0500",
    "Arabic (ASMO 708) - 0708",
    "Arabic (ASMO 449+, BCON V4) - 0709",
    "Arabic (Transparent Arabic) - 0710",
    "Arabic (Transparent ASMO) - 0720",
    "Greek (formerly 437G) - 0737",
    "Baltic - 0775",
    "MS-DOS  Multilingual (Latin I) - 0850",
    "MS-DOS  Slavic (Latin II) - 0852",
    "IBM Cyrillic (primarily Russian) - 0855",
    "IBM Turkish - 0857",
    "MS-DOS  Portuguese - 0860",
    "MS-DOS Icelandic - 0861",
    "Hebrew - 0862",
    "MS-DOS Canadian-French - 0863",
    "Arabic - 0864",
    "MS-DOS Nordic  - 0865",
    "MS-DOS Russian  - 0866",
    "IBM Modern Greek  - 0869",
    "Thai  - 0874",
    "EBCDIC  - 0875",
    "Japan  - 0932",
    "Chinese (PRC, Singapore) - 0936",
    "Korean - 0949",
    "Chinese (Taiwan, Hong Kong)  - 0950",
    "EBCDIC - 1026",
    "Unicode (BMP of ISO 10646) - 1200",
    "Windows 3.1 Eastern European  - 1250",
    "Windows 3.1 Cyrillic - 1251",
    "Windows 3.1 US (ANSI) - 1252",
    "Windows 3.1 Greek - 1253",
    "Windows 3.1 Turkish - 1254",
    "Hebrew - 1255",
    "Arabic - 1256",
    "Baltic - 1257",
    "Korean (Johab) - 1361",
};

// "<name> - $XXXX": the identifier in uppercase hex, at least four digits.
std::string LanguageItemText(std::string_view name, std::uint16_t id);

// What saving cuts out of a list's text: up to four characters after the
// first "$" (from the start when there is none) ...
std::string LanguageTextFromItem(std::string_view itemText);
// ... and up to four characters after the first "- " (from the second
// character when there is none).
std::string CodePageTextFromItem(std::string_view itemText);

// What the decoder searches for: the language as four uppercase hex digits
// ("0809"), the code page in decimal without leading zeros ("37").
std::string LanguageSearchText(std::uint16_t language);
std::string CodePageSearchText(std::uint16_t codePage);

// Index of the first item whose text contains needle anywhere; -1 if none.
int FirstItemContaining(std::span<const std::string> items, std::string_view needle);
int FirstItemContaining(std::span<const std::string_view> items, std::string_view needle);

// The decoder's selection rules; -1 means "keep the current selection".
int LanguageItemIndex(std::span<const std::string> languageItems, std::uint16_t language);
int CodePageItemIndex(std::uint16_t codePage);

} // namespace qm
