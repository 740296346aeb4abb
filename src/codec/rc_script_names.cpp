#include "codec/rc_script_names.h"

#include <array>
#include <cstdio>
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

constexpr std::array kOther{ScriptName{"VS_VERSION_INFO", 1}, ScriptName{"VS_FFI_FILEFLAGSMASK", 0x3F}};

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

} // namespace

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
