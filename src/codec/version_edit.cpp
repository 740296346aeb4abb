#include "codec/version_edit.h"

#include <algorithm>
#include <tuple>

#include "base/shown_text.h"
#include "codec/block_layout.h"
#include "codec/field_codes.h"
#include "codec/integer_text.h"
#include "codec/text_codec.h"
#include "codec/version_query.h"

namespace qm {
namespace {

constexpr std::uint32_t kFileOsNtWindows32 = 0x00040004;
constexpr std::uint32_t kFileTypeApp = 1;
constexpr std::uint32_t kFileTypeDll = 2;
constexpr std::uint16_t kCodePageUnicode = 1200;

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
    key = TableKeyOf(info.Translations.front());
  } else {
    key = TableKeyOf({resourceLanguage, kCodePageUnicode});
  }
  if (const auto named = TranslationOfKey(key)) AddTranslation(info, *named);
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

void ApplyToFixedPart(const VersionEdit &edit, VersionInfo &info) {
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
}

} // namespace

bool SameKey(std::u16string_view a, std::u16string_view b) {
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

bool IsTableKey(std::u16string_view key) {
  return key.size() == 8 && std::all_of(key.begin(), key.end(), [](char16_t c) {
           return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
         });
}

std::optional<Translation> TranslationOfKey(std::u16string_view key) {
  if (!IsTableKey(key)) return std::nullopt;
  std::uint32_t value = 0;
  for (char16_t c : key)
    value = value * 16 + static_cast<std::uint32_t>(DigitValue(static_cast<char>(c), 16));
  return Translation{static_cast<std::uint16_t>(value >> 16), static_cast<std::uint16_t>(value & 0xFFFF)};
}

Result<std::u16string> TableKeyFromText(std::string_view text) {
  std::u16string key = Utf8ToUtf16(text);
  if (!IsTableKey(key)) {
    return Fail(ErrorKind::Invalid,
                Quoted(text) + " is not eight hexadecimal digits (language and code page, as 040904B0)");
  }
  for (char16_t &c : key)
    if (c >= u'a' && c <= u'f') c = static_cast<char16_t>(c - u'a' + u'A');
  return key;
}

Result<std::uint16_t> LanguageFromText(std::string_view text) {
  const ParsedNumber language = ParseNumber(text, kLanguageSyntax);
  if (!language) {
    return Fail(ErrorKind::Invalid, Quoted(text) + " is not a language id of one to four hexadecimal digits");
  }
  return static_cast<std::uint16_t>(language.value);
}

bool VersionEdit::ChangesFixedPart() const {
  return FileVersion || ProductVersion || FlagsOn != 0 || FlagsOff != 0 || FileOs || FileType || FileSubType;
}

bool VersionEdit::ChangesStrings() const {
  return FileVersion || ProductVersion || FileVersionText || ProductVersionText || !Strings.empty() || !Removed.empty();
}

std::vector<StringChange> VersionEdit::VersionStrings() const {
  std::vector<StringChange> sets;
  for (const auto &[key, parts, text] : {std::tuple{u"FileVersion", &FileVersion, &FileVersionText},
                                         std::tuple{u"ProductVersion", &ProductVersion, &ProductVersionText}}) {
    if (*text) {
      sets.push_back({key, **text});
    } else if (*parts) {
      sets.push_back({key, VersionString(**parts)});
    }
  }
  return sets;
}

void TakeVersion(const std::optional<WrittenVersion> &written, const std::optional<std::u16string> &ownText,
                 std::optional<VersionParts> &parts, std::optional<std::u16string> &text) {
  if (written) {
    parts = written->Parts;
    text = written->Text;
  }
  if (ownText) text = ownText;
}

void ApplyEdit(const VersionEdit &edit, std::uint16_t resourceLanguage, VersionInfo &info) {
  ApplyToFixedPart(edit, info);
  std::vector<StringChange> sets = edit.VersionStrings();
  sets.insert(sets.end(), edit.Strings.begin(), edit.Strings.end());
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
  const std::u16string key = tableKey.value_or(TableKeyOf({language, kCodePageUnicode}));
  info.Tables.push_back({key, {}});
  info.Translations.push_back(*TranslationOfKey(key));
  return info;
}

} // namespace qm
