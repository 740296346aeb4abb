#include "cli/version_edit.h"

#include <algorithm>
#include <cstdio>

#include "codec/block_layout.h"
#include "codec/field_codes.h"
#include "codec/text_codec.h"
#include "base/shown_text.h"

namespace qm::cli {
namespace {

constexpr std::uint32_t kFileOsNtWindows32 = 0x00040004;
constexpr std::uint32_t kFileTypeApp = 1;
constexpr std::uint32_t kFileTypeDll = 2;
constexpr std::uint16_t kCodePageUnicode = 1200;

std::optional<std::uint32_t> NumberFromText(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : 99;
    if (digit >= base) return std::nullopt;
    value = value * base + digit;
  }
  if (value > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

template <typename FromIndex>
Result<std::uint32_t> CodeFromArgument(std::string_view text, std::string_view option,
                                       std::span<const std::string_view> items, FromIndex fromIndex) {
  if (auto number = NumberFromText(text)) return *number;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i] == text) return fromIndex(static_cast<int>(i), items[i]);
  }
  std::string list;
  for (std::string_view item : items)
    list.append(list.empty() ? "" : ", ").append(1, '"').append(item).append(1, '"');
  return Fail(
      std::string(option) + ": " + Quoted(text) +
      " is neither a number (decimal or 0x hexadecimal, up to 32 bits) nor an item of the list; the items are " + list);
}

Translation TranslationFromKey(std::u16string_view key) {
  auto hex = [&](std::size_t from) {
    return static_cast<std::uint16_t>(*NumberFromText("0x" + Utf16ToUtf8(key.substr(from, 4))));
  };
  return {hex(0), hex(4)};
}

std::u16string KeyFromTranslation(Translation t) {
  char text[9];
  std::snprintf(text, sizeof text, "%04X%04X", static_cast<unsigned>(t.Language), static_cast<unsigned>(t.CodePage));
  return Utf8ToUtf16(text);
}

bool IsTableKey(std::u16string_view key) {
  return key.size() == 8 && std::all_of(key.begin(), key.end(), [](char16_t c) {
           return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
         });
}

void AddTranslation(VersionInfo &info, Translation t) {
  const bool present = std::any_of(info.Translations.begin(), info.Translations.end(), [&](const Translation &x) {
    return x.Language == t.Language && x.CodePage == t.CodePage;
  });
  if (!present) info.Translations.push_back(t);
}

// The tables a string change goes to; a table is made when a string has to
// be set and there is none to take it.
std::vector<StringTable *> TargetTables(const VersionEdit &edit, std::uint16_t resourceLanguage, bool setting,
                                        VersionInfo &info) {
  std::vector<StringTable *> targets;
  for (StringTable &table : info.Tables) {
    if (!edit.Table || SameKey(table.Key, *edit.Table)) targets.push_back(&table);
  }
  if (!targets.empty() || !setting) return targets;
  std::u16string key;
  if (edit.Table) {
    key = *edit.Table;
  } else if (!info.Translations.empty()) {
    key = KeyFromTranslation(info.Translations.front());
  } else {
    key = KeyFromTranslation({resourceLanguage, kCodePageUnicode});
  }
  if (IsTableKey(key)) AddTranslation(info, TranslationFromKey(key));
  info.Tables.push_back({key, {}});
  return {&info.Tables.back()};
}

void SetString(StringTable &table, const StringChange &change) {
  for (DecodedString &entry : table.Strings) {
    if (SameKey(entry.Key, change.Key)) {
      entry.Value = change.Value;
      return;
    }
  }
  table.Strings.push_back({change.Key, change.Value});
}

void RemoveString(StringTable &table, std::u16string_view key) {
  std::erase_if(table.Strings, [&](const DecodedString &entry) { return SameKey(entry.Key, key); });
}

} // namespace

bool SameKey(std::u16string_view a, std::u16string_view b) {
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

bool VersionEdit::ChangesFixedPart() const {
  return FileVersion || ProductVersion || FlagsOn != 0 || FlagsOff != 0 || FileOs || FileType || FileSubType;
}

bool VersionEdit::ChangesStrings() const {
  return FileVersion || ProductVersion || !Strings.empty() || !Removed.empty();
}

Result<std::u16string> TextFromArgument(std::string_view text) {
  std::u16string units = Utf8ToUtf16(text);
  if (Utf16ToUtf8(units) != text) return Fail(Quoted(text) + " is not valid UTF-8");
  return units;
}

Result<StringChange> StringChangeFromArgument(std::string_view keyEqualsValue) {
  const std::size_t equals = keyEqualsValue.find('=');
  if (equals == std::string_view::npos || equals == 0) {
    return Fail("--string: " + Quoted(keyEqualsValue) + " is not KEY=VALUE with a key before the '='");
  }
  auto key = TextFromArgument(keyEqualsValue.substr(0, equals));
  if (!key) return Fail("--string: " + key.error());
  auto value = TextFromArgument(keyEqualsValue.substr(equals + 1));
  if (!value) return Fail("--string: " + value.error());
  return StringChange{std::move(*key), std::move(*value)};
}

Result<std::u16string> TableKeyFromArgument(std::string_view text) {
  std::u16string key = Utf8ToUtf16(text);
  if (!IsTableKey(key)) {
    return Fail("--table: " + Quoted(text) + " is not eight hexadecimal digits (language and code page, as 040904B0)");
  }
  for (char16_t &c : key)
    if (c >= u'a' && c <= u'f') c = static_cast<char16_t>(c - u'a' + u'A');
  return key;
}

Result<std::uint16_t> LanguageFromArgument(std::string_view text) {
  std::string_view digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.remove_prefix(2);
  auto value = digits.empty() || digits.size() > 4 ? std::nullopt : NumberFromText("0x" + std::string(digits));
  if (!value) return Fail("--language: " + Quoted(text) + " is not a language id of one to four hexadecimal digits");
  return static_cast<std::uint16_t>(*value);
}

Result<std::uint32_t> FlagBitFromName(std::string_view name) {
  static constexpr struct {
    std::string_view name;
    std::uint32_t bit;
  } kFlags[] = {{"debug", 0x01},        {"prerelease", 0x02},   {"patched", 0x04},
                {"privatebuild", 0x08}, {"infoinferred", 0x10}, {"specialbuild", 0x20}};
  std::string lower(name);
  for (char &c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  for (const auto &flag : kFlags) {
    if (flag.name == lower) return flag.bit;
  }
  return Fail(Quoted(name) + " is not a flag; the flags are debug, prerelease, patched, privatebuild, specialbuild and "
                            "infoinferred");
}

Result<std::uint32_t> FileOsFromArgument(std::string_view text) {
  return CodeFromArgument(text, "--file-os", kFileOsItems,
                          [](int index, std::string_view) { return FileOsFromIndex(index); });
}

Result<std::uint32_t> FileTypeFromArgument(std::string_view text) {
  return CodeFromArgument(text, "--file-type", kFileTypeItems, FileTypeFromList);
}

Result<std::uint32_t> FileSubTypeFromArgument(std::string_view text) {
  return CodeFromArgument(text, "--file-subtype", kSubTypeItems, SubTypeFromList);
}

std::u16string VersionString(const std::array<std::uint16_t, 4> &parts) {
  std::string text;
  for (std::uint16_t part : parts)
    text.append(text.empty() ? "" : ".").append(std::to_string(part));
  return Utf8ToUtf16(text);
}

void ApplyEdit(const VersionEdit &edit, std::uint16_t resourceLanguage, VersionInfo &info) {
  if (edit.ChangesFixedPart() && !info.HasFixedPart) {
    info.HasFixedPart = true;
    info.Fixed = FixedFileInfo{};
    info.Fixed.StrucVersion = layout::kStrucVersion;
  }
  FixedFileInfo &f = info.Fixed;
  if (edit.FileVersion) {
    const auto &v = *edit.FileVersion;
    f.FileMajor = v[0], f.FileMinor = v[1], f.FileRelease = v[2], f.FileBuild = v[3];
  }
  if (edit.ProductVersion) {
    const auto &v = *edit.ProductVersion;
    f.ProdMajor = v[0], f.ProdMinor = v[1], f.ProdRelease = v[2], f.ProdBuild = v[3];
  }
  // A flag named either way is one the block now speaks for: the mask
  // gains its bit.
  f.Flags = (f.Flags | edit.FlagsOn) & ~edit.FlagsOff;
  f.FlagsMask |= edit.FlagsOn | edit.FlagsOff;
  if (edit.FileOs) f.FileOs = *edit.FileOs;
  if (edit.FileType) f.FileType = *edit.FileType;
  if (edit.FileSubType) f.FileSubType = *edit.FileSubType;

  std::vector<StringChange> sets;
  if (edit.FileVersion) sets.push_back({u"FileVersion", VersionString(*edit.FileVersion)});
  if (edit.ProductVersion) sets.push_back({u"ProductVersion", VersionString(*edit.ProductVersion)});
  sets.insert(sets.end(), edit.Strings.begin(), edit.Strings.end());
  if (sets.empty() && edit.Removed.empty()) return;
  for (StringTable *table : TargetTables(edit, resourceLanguage, !sets.empty(), info)) {
    for (const StringChange &change : sets)
      SetString(*table, change);
    for (const std::u16string &key : edit.Removed)
      RemoveString(*table, key);
  }
}

VersionInfo NewVersionInfo(std::uint16_t language, bool isLibrary, const std::optional<std::u16string> &tableKey) {
  VersionInfo info;
  info.HasFixedPart = true;
  info.Fixed.StrucVersion = layout::kStrucVersion;
  info.Fixed.FileOs = kFileOsNtWindows32;
  info.Fixed.FileType = isLibrary ? kFileTypeDll : kFileTypeApp;
  const std::u16string key = tableKey.value_or(KeyFromTranslation({language, kCodePageUnicode}));
  info.Tables.push_back({key, {}});
  info.Translations.push_back(TranslationFromKey(key));
  return info;
}

} // namespace qm::cli
