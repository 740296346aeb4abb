#include "codec/rc_script_names.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <vector>

namespace qm {
namespace {

constexpr std::array kFlags{
    ScriptName{"VS_FF_DEBUG", 0x01},        ScriptName{"VS_FF_PRERELEASE", 0x02},
    ScriptName{"VS_FF_PATCHED", 0x04},      ScriptName{"VS_FF_PRIVATEBUILD", 0x08},
    ScriptName{"VS_FF_INFOINFERRED", 0x10}, ScriptName{"VS_FF_SPECIALBUILD", 0x20},
};

constexpr std::array kOs{
    ScriptName{"VOS_UNKNOWN", 0},
    ScriptName{"VOS_DOS", 0x10000},
    ScriptName{"VOS_OS216", 0x20000},
    ScriptName{"VOS_OS232", 0x30000},
    ScriptName{"VOS_NT", 0x40000},
    ScriptName{"VOS_WINCE", 0x50000},
    ScriptName{"VOS__BASE", 0},
    ScriptName{"VOS__WINDOWS16", 1},
    ScriptName{"VOS__PM16", 2},
    ScriptName{"VOS__PM32", 3},
    ScriptName{"VOS__WINDOWS32", 4},
    ScriptName{"VOS_DOS_WINDOWS16", 0x10001},
    ScriptName{"VOS_DOS_WINDOWS32", 0x10004},
    ScriptName{"VOS_OS216_PM16", 0x20002},
    ScriptName{"VOS_OS232_PM32", 0x30003},
    ScriptName{"VOS_NT_WINDOWS32", 0x40004},
};

constexpr std::array kTypes{
    ScriptName{"VFT_UNKNOWN", 0}, ScriptName{"VFT_APP", 1}, ScriptName{"VFT_DLL", 2},        ScriptName{"VFT_DRV", 3},
    ScriptName{"VFT_FONT", 4},    ScriptName{"VFT_VXD", 5}, ScriptName{"VFT_STATIC_LIB", 7},
};

constexpr std::array kDriverTypes{
    ScriptName{"VFT2_UNKNOWN", 0},
    ScriptName{"VFT2_DRV_PRINTER", 1},
    ScriptName{"VFT2_DRV_KEYBOARD", 2},
    ScriptName{"VFT2_DRV_LANGUAGE", 3},
    ScriptName{"VFT2_DRV_DISPLAY", 4},
    ScriptName{"VFT2_DRV_MOUSE", 5},
    ScriptName{"VFT2_DRV_NETWORK", 6},
    ScriptName{"VFT2_DRV_SYSTEM", 7},
    ScriptName{"VFT2_DRV_INSTALLABLE", 8},
    ScriptName{"VFT2_DRV_SOUND", 9},
    ScriptName{"VFT2_DRV_COMM", 10},
    ScriptName{"VFT2_DRV_INPUTMETHOD", 11},
    ScriptName{"VFT2_DRV_VERSIONED_PRINTER", 12},
};

constexpr std::array kFontTypes{
    ScriptName{"VFT2_FONT_RASTER", 1},
    ScriptName{"VFT2_FONT_VECTOR", 2},
    ScriptName{"VFT2_FONT_TRUETYPE", 3},
};

// The languages (winnt.h's LANG_* and SUBLANG_*) a LANGUAGE statement names.
constexpr ScriptName kLanguages[] = {
    ScriptName{"LANG_NEUTRAL", 0x00},
    ScriptName{"LANG_INVARIANT", 0x7f},
    ScriptName{"LANG_AFRIKAANS", 0x36},
    ScriptName{"LANG_ALBANIAN", 0x1c},
    ScriptName{"LANG_ARABIC", 0x01},
    ScriptName{"LANG_ARMENIAN", 0x2b},
    ScriptName{"LANG_BASQUE", 0x2d},
    ScriptName{"LANG_BELARUSIAN", 0x23},
    ScriptName{"LANG_BENGALI", 0x45},
    ScriptName{"LANG_BULGARIAN", 0x02},
    ScriptName{"LANG_CATALAN", 0x03},
    ScriptName{"LANG_CHINESE", 0x04},
    ScriptName{"LANG_CROATIAN", 0x1a},
    ScriptName{"LANG_CZECH", 0x05},
    ScriptName{"LANG_DANISH", 0x06},
    ScriptName{"LANG_DUTCH", 0x13},
    ScriptName{"LANG_ENGLISH", 0x09},
    ScriptName{"LANG_ESTONIAN", 0x25},
    ScriptName{"LANG_FAEROESE", 0x38},
    ScriptName{"LANG_FARSI", 0x29},
    ScriptName{"LANG_PERSIAN", 0x29},
    ScriptName{"LANG_FINNISH", 0x0b},
    ScriptName{"LANG_FRENCH", 0x0c},
    ScriptName{"LANG_GALICIAN", 0x56},
    ScriptName{"LANG_GEORGIAN", 0x37},
    ScriptName{"LANG_GERMAN", 0x07},
    ScriptName{"LANG_GREEK", 0x08},
    ScriptName{"LANG_GUJARATI", 0x47},
    ScriptName{"LANG_HEBREW", 0x0d},
    ScriptName{"LANG_HINDI", 0x39},
    ScriptName{"LANG_HUNGARIAN", 0x0e},
    ScriptName{"LANG_ICELANDIC", 0x0f},
    ScriptName{"LANG_INDONESIAN", 0x21},
    ScriptName{"LANG_IRISH", 0x3c},
    ScriptName{"LANG_ITALIAN", 0x10},
    ScriptName{"LANG_JAPANESE", 0x11},
    ScriptName{"LANG_KANNADA", 0x4b},
    ScriptName{"LANG_KAZAK", 0x3f},
    ScriptName{"LANG_KOREAN", 0x12},
    ScriptName{"LANG_LATVIAN", 0x26},
    ScriptName{"LANG_LITHUANIAN", 0x27},
    ScriptName{"LANG_MACEDONIAN", 0x2f},
    ScriptName{"LANG_MALAY", 0x3e},
    ScriptName{"LANG_MALAYALAM", 0x4c},
    ScriptName{"LANG_MARATHI", 0x4e},
    ScriptName{"LANG_NORWEGIAN", 0x14},
    ScriptName{"LANG_POLISH", 0x15},
    ScriptName{"LANG_PORTUGUESE", 0x16},
    ScriptName{"LANG_PUNJABI", 0x46},
    ScriptName{"LANG_ROMANIAN", 0x18},
    ScriptName{"LANG_RUSSIAN", 0x19},
    ScriptName{"LANG_SERBIAN", 0x1a},
    ScriptName{"LANG_SLOVAK", 0x1b},
    ScriptName{"LANG_SLOVENIAN", 0x24},
    ScriptName{"LANG_SPANISH", 0x0a},
    ScriptName{"LANG_SWAHILI", 0x41},
    ScriptName{"LANG_SWEDISH", 0x1d},
    ScriptName{"LANG_TAMIL", 0x49},
    ScriptName{"LANG_TATAR", 0x44},
    ScriptName{"LANG_TELUGU", 0x4a},
    ScriptName{"LANG_THAI", 0x1e},
    ScriptName{"LANG_TURKISH", 0x1f},
    ScriptName{"LANG_UKRAINIAN", 0x22},
    ScriptName{"LANG_URDU", 0x20},
    ScriptName{"LANG_UZBEK", 0x43},
    ScriptName{"LANG_VIETNAMESE", 0x2a},
    ScriptName{"LANG_WELSH", 0x52},
    ScriptName{"LANG_BRETON", 0x7e},
    ScriptName{"LANG_LUXEMBOURGISH", 0x6e},
    ScriptName{"LANG_MALTESE", 0x3a},
    ScriptName{"LANG_MONGOLIAN", 0x50},
    ScriptName{"LANG_NEPALI", 0x61},
    ScriptName{"LANG_ROMANSH", 0x17},
    ScriptName{"LANG_SANSKRIT", 0x4f},
    ScriptName{"LANG_AZERI", 0x2c},
    ScriptName{"LANG_BOSNIAN", 0x1a},
    ScriptName{"LANG_DIVEHI", 0x65},
    ScriptName{"LANG_FILIPINO", 0x64},
    ScriptName{"LANG_FRISIAN", 0x62},
    ScriptName{"LANG_KYRGYZ", 0x40},
    ScriptName{"LANG_SYRIAC", 0x5a},
    ScriptName{"LANG_TAJIK", 0x28},
    ScriptName{"LANG_TURKMEN", 0x42},
    ScriptName{"SUBLANG_NEUTRAL", 0x00},
    ScriptName{"SUBLANG_DEFAULT", 0x01},
    ScriptName{"SUBLANG_SYS_DEFAULT", 0x02},
    ScriptName{"SUBLANG_CUSTOM_DEFAULT", 0x03},
    ScriptName{"SUBLANG_CUSTOM_UNSPECIFIED", 0x04},
    ScriptName{"SUBLANG_UI_CUSTOM_DEFAULT", 0x05},
    ScriptName{"SUBLANG_ARABIC_SAUDI_ARABIA", 0x01},
    ScriptName{"SUBLANG_ARABIC_EGYPT", 0x03},
    ScriptName{"SUBLANG_CHINESE_TRADITIONAL", 0x01},
    ScriptName{"SUBLANG_CHINESE_SIMPLIFIED", 0x02},
    ScriptName{"SUBLANG_CHINESE_HONGKONG", 0x03},
    ScriptName{"SUBLANG_CHINESE_SINGAPORE", 0x04},
    ScriptName{"SUBLANG_CHINESE_MACAU", 0x05},
    ScriptName{"SUBLANG_DUTCH", 0x01},
    ScriptName{"SUBLANG_DUTCH_BELGIAN", 0x02},
    ScriptName{"SUBLANG_ENGLISH_US", 0x01},
    ScriptName{"SUBLANG_ENGLISH_UK", 0x02},
    ScriptName{"SUBLANG_ENGLISH_AUS", 0x03},
    ScriptName{"SUBLANG_ENGLISH_CAN", 0x04},
    ScriptName{"SUBLANG_ENGLISH_NZ", 0x05},
    ScriptName{"SUBLANG_ENGLISH_EIRE", 0x06},
    ScriptName{"SUBLANG_ENGLISH_IRELAND", 0x06},
    ScriptName{"SUBLANG_ENGLISH_SOUTH_AFRICA", 0x07},
    ScriptName{"SUBLANG_ENGLISH_JAMAICA", 0x08},
    ScriptName{"SUBLANG_ENGLISH_CARIBBEAN", 0x09},
    ScriptName{"SUBLANG_ENGLISH_BELIZE", 0x0a},
    ScriptName{"SUBLANG_ENGLISH_TRINIDAD", 0x0b},
    ScriptName{"SUBLANG_ENGLISH_ZIMBABWE", 0x0c},
    ScriptName{"SUBLANG_ENGLISH_PHILIPPINES", 0x0d},
    ScriptName{"SUBLANG_ENGLISH_INDIA", 0x10},
    ScriptName{"SUBLANG_ENGLISH_MALAYSIA", 0x11},
    ScriptName{"SUBLANG_ENGLISH_SINGAPORE", 0x12},
    ScriptName{"SUBLANG_FRENCH", 0x01},
    ScriptName{"SUBLANG_FRENCH_BELGIAN", 0x02},
    ScriptName{"SUBLANG_FRENCH_CANADIAN", 0x03},
    ScriptName{"SUBLANG_FRENCH_SWISS", 0x04},
    ScriptName{"SUBLANG_FRENCH_LUXEMBOURG", 0x05},
    ScriptName{"SUBLANG_FRENCH_MONACO", 0x06},
    ScriptName{"SUBLANG_GERMAN", 0x01},
    ScriptName{"SUBLANG_GERMAN_SWISS", 0x02},
    ScriptName{"SUBLANG_GERMAN_AUSTRIAN", 0x03},
    ScriptName{"SUBLANG_GERMAN_LUXEMBOURG", 0x04},
    ScriptName{"SUBLANG_GERMAN_LIECHTENSTEIN", 0x05},
    ScriptName{"SUBLANG_ITALIAN", 0x01},
    ScriptName{"SUBLANG_ITALIAN_SWISS", 0x02},
    ScriptName{"SUBLANG_KOREAN", 0x01},
    ScriptName{"SUBLANG_NORWEGIAN_BOKMAL", 0x01},
    ScriptName{"SUBLANG_NORWEGIAN_NYNORSK", 0x02},
    ScriptName{"SUBLANG_PORTUGUESE", 0x02},
    ScriptName{"SUBLANG_PORTUGUESE_BRAZILIAN", 0x01},
    ScriptName{"SUBLANG_SERBIAN_LATIN", 0x02},
    ScriptName{"SUBLANG_SERBIAN_CYRILLIC", 0x03},
    ScriptName{"SUBLANG_SPANISH", 0x01},
    ScriptName{"SUBLANG_SPANISH_MEXICAN", 0x02},
    ScriptName{"SUBLANG_SPANISH_MODERN", 0x03},
    ScriptName{"SUBLANG_SPANISH_GUATEMALA", 0x04},
    ScriptName{"SUBLANG_SPANISH_COSTA_RICA", 0x05},
    ScriptName{"SUBLANG_SPANISH_PANAMA", 0x06},
    ScriptName{"SUBLANG_SPANISH_DOMINICAN_REPUBLIC", 0x07},
    ScriptName{"SUBLANG_SPANISH_VENEZUELA", 0x08},
    ScriptName{"SUBLANG_SPANISH_COLOMBIA", 0x09},
    ScriptName{"SUBLANG_SPANISH_PERU", 0x0a},
    ScriptName{"SUBLANG_SPANISH_ARGENTINA", 0x0b},
    ScriptName{"SUBLANG_SPANISH_ECUADOR", 0x0c},
    ScriptName{"SUBLANG_SPANISH_CHILE", 0x0d},
    ScriptName{"SUBLANG_SPANISH_URUGUAY", 0x0e},
    ScriptName{"SUBLANG_SPANISH_PARAGUAY", 0x0f},
    ScriptName{"SUBLANG_SPANISH_BOLIVIA", 0x10},
    ScriptName{"SUBLANG_SPANISH_EL_SALVADOR", 0x11},
    ScriptName{"SUBLANG_SPANISH_HONDURAS", 0x12},
    ScriptName{"SUBLANG_SPANISH_NICARAGUA", 0x13},
    ScriptName{"SUBLANG_SPANISH_PUERTO_RICO", 0x14},
    ScriptName{"SUBLANG_SPANISH_US", 0x15},
    ScriptName{"SUBLANG_SWEDISH", 0x01},
    ScriptName{"SUBLANG_SWEDISH_FINLAND", 0x02},
    ScriptName{"SUBLANG_LITHUANIAN", 0x01},
    ScriptName{"SUBLANG_MALAY_MALAYSIA", 0x01},
    ScriptName{"SUBLANG_MALAY_BRUNEI_DARUSSALAM", 0x02},
    ScriptName{"SUBLANG_URDU_PAKISTAN", 0x01},
    ScriptName{"SUBLANG_UZBEK_LATIN", 0x01},
    ScriptName{"SUBLANG_UZBEK_CYRILLIC", 0x02},
    ScriptName{"SUBLANG_AZERI_LATIN", 0x01},
    ScriptName{"SUBLANG_AZERI_CYRILLIC", 0x02},
    ScriptName{"SUBLANG_CROATIAN_CROATIA", 0x01},
    ScriptName{"SUBLANG_RUSSIAN_RUSSIA", 0x01},
    ScriptName{"SUBLANG_UKRAINIAN_UKRAINE", 0x01},
    ScriptName{"SUBLANG_POLISH_POLAND", 0x01},
    ScriptName{"SUBLANG_CZECH_CZECH_REPUBLIC", 0x01},
    ScriptName{"SUBLANG_JAPANESE_JAPAN", 0x01},
    ScriptName{"SUBLANG_HUNGARIAN_HUNGARY", 0x01},
    ScriptName{"SUBLANG_GREEK_GREECE", 0x01},
    ScriptName{"SUBLANG_TURKISH_TURKEY", 0x01},
    ScriptName{"SUBLANG_FINNISH_FINLAND", 0x01},
    ScriptName{"SUBLANG_DANISH_DENMARK", 0x01},
    ScriptName{"SUBLANG_HEBREW_ISRAEL", 0x01},
    ScriptName{"SUBLANG_THAI_THAILAND", 0x01},
    ScriptName{"SUBLANG_CATALAN_CATALAN", 0x01},
    ScriptName{"SUBLANG_SLOVAK_SLOVAKIA", 0x01},
    ScriptName{"SUBLANG_SLOVENIAN_SLOVENIA", 0x01},
    ScriptName{"SUBLANG_ROMANIAN_ROMANIA", 0x01},
    ScriptName{"SUBLANG_BULGARIAN_BULGARIA", 0x01},
    ScriptName{"SUBLANG_ESTONIAN_ESTONIA", 0x01},
    ScriptName{"SUBLANG_LATVIAN_LATVIA", 0x01},
    ScriptName{"SUBLANG_ICELANDIC_ICELAND", 0x01},
    ScriptName{"SUBLANG_INDONESIAN_INDONESIA", 0x01},
    ScriptName{"SUBLANG_VIETNAMESE_VIETNAM", 0x01},
    ScriptName{"SUBLANG_BASQUE_BASQUE", 0x01},
    ScriptName{"SUBLANG_GALICIAN_GALICIAN", 0x01},
    ScriptName{"SUBLANG_BELARUSIAN_BELARUS", 0x01},
    ScriptName{"SUBLANG_ARMENIAN_ARMENIA", 0x01},
    ScriptName{"SUBLANG_GEORGIAN_GEORGIA", 0x01},
    ScriptName{"SUBLANG_HINDI_INDIA", 0x01},
    ScriptName{"SUBLANG_AFRIKAANS_SOUTH_AFRICA", 0x01},
    ScriptName{"SUBLANG_ALBANIAN_ALBANIA", 0x01},
    ScriptName{"SUBLANG_WELSH_UNITED_KINGDOM", 0x01},
    ScriptName{"SUBLANG_IRISH_IRELAND", 0x02},
    ScriptName{"SUBLANG_MACEDONIAN_MACEDONIA", 0x01},
    ScriptName{"SUBLANG_BENGALI_INDIA", 0x01},
};

constexpr std::array kOther{ScriptName{"VS_VERSION_INFO", 1}, ScriptName{"VS_FFI_FILEFLAGSMASK", 0x3F},
                            ScriptName{"VS_FFI_SIGNATURE", 0xFEEF04BD}, ScriptName{"VS_FFI_STRUCVERSION", 0x10000},
                            ScriptName{"VS_USER_DEFINED", 100}};

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
  return text;
}

template <std::size_t N> std::string OneName(const std::array<ScriptName, N> &names, std::uint32_t value) {
  for (const ScriptName &name : names)
    if (name.Value == value) return std::string(name.Name);
  return Hex(value);
}

constexpr std::string_view kCarriedHeaders[] = {"windows.h", "winver.h", "winres.h", "winresrc.h",
                                                "verrsrc.h", "afxres.h", "winnt.h"};

} // namespace

bool IsCarriedHeader(std::string_view name) {
  for (std::string_view header : kCarriedHeaders) {
    if (header.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size(); ++i)
      same = same && std::tolower(static_cast<unsigned char>(name[i])) == header[i];
    if (same) return true;
  }
  return false;
}

std::string CarriedDefinitions() {
  std::string text;
  for (const ScriptName &name : KnownScriptNames())
    text += std::string(name.Name) + " " + std::to_string(name.Value) + "\n";
  // The LANGID of a primary language and a sublanguage.
  text += "MAKELANGID(p, s) ((((s) & 0x3F) << 10) | ((p) & 0x3FF))\n";
  return text;
}

std::span<const ScriptName> KnownScriptNames() {
  static const std::vector<ScriptName> all = [] {
    std::vector<ScriptName> names;
    // Sized first: GCC 12 warns (-Wstringop-overflow, a false positive) on
    // the inserts into an empty vector when they are inlined.
    names.reserve(kFlags.size() + kOs.size() + kTypes.size() + kDriverTypes.size() + kFontTypes.size() + kOther.size());
    names.insert(names.end(), kFlags.begin(), kFlags.end());
    names.insert(names.end(), kOs.begin(), kOs.end());
    names.insert(names.end(), kTypes.begin(), kTypes.end());
    names.insert(names.end(), kDriverTypes.begin(), kDriverTypes.end());
    names.insert(names.end(), kFontTypes.begin(), kFontTypes.end());
    names.insert(names.end(), kOther.begin(), kOther.end());
    names.insert(names.end(), std::begin(kLanguages), std::end(kLanguages));
    return names;
  }();
  return all;
}

std::optional<std::uint32_t> KnownScriptValue(std::string_view name) {
  for (const ScriptName &known : KnownScriptNames())
    if (known.Name == name) return known.Value;
  return std::nullopt;
}

std::string ScriptFlagNames(std::uint32_t flags) {
  if (flags == 0) return "0x0";
  std::string text;
  for (const ScriptName &flag : kFlags) {
    if ((flags & flag.Value) == 0) continue;
    text += (text.empty() ? "" : " | ") + std::string(flag.Name);
    flags &= ~flag.Value;
  }
  if (flags != 0) text += (text.empty() ? "" : " | ") + Hex(flags);
  return text;
}

std::string ScriptFileOsName(std::uint32_t fileOs) {
  // The combined names come last in the table, so look for them first.
  for (auto it = kOs.rbegin(); it != kOs.rend(); ++it)
    if (it->Value == fileOs && fileOs != 0) return std::string(it->Name);
  return fileOs == 0 ? "VOS_UNKNOWN" : Hex(fileOs);
}

std::string ScriptFileTypeName(std::uint32_t fileType) { return OneName(kTypes, fileType); }

std::string ScriptFileSubTypeName(std::uint32_t fileType, std::uint32_t subType) {
  if (fileType == 3) return OneName(kDriverTypes, subType);
  if (fileType == 4) return subType == 0 ? "VFT2_UNKNOWN" : OneName(kFontTypes, subType);
  return Hex(subType);
}

} // namespace qm
