#include "codec/version_query.h"

#include <cstdio>

#include "codec/version_edit.h"

namespace qm {

std::u16string TableKeyOf(const Translation &translation) {
  char text[9];
  std::snprintf(text, sizeof text, "%04X%04X", static_cast<unsigned>(translation.Language),
                static_cast<unsigned>(translation.CodePage));
  return std::u16string(text, text + 8);
}

const StringTable *TableToRead(const VersionInfo &info, const std::optional<std::u16string> &key) {
  if (info.Tables.empty()) return nullptr;
  const std::optional<std::u16string> wanted = key ? key
                                               : info.Translations.empty()
                                                   ? std::nullopt
                                                   : std::optional(TableKeyOf(info.Translations.front()));
  if (wanted) {
    for (const StringTable &table : info.Tables)
      if (SameKey(table.Key, *wanted)) return &table;
  }
  return key ? nullptr : &info.Tables.front();
}

const DecodedString *FindString(const StringTable &table, std::u16string_view key) {
  for (const DecodedString &entry : table.Strings)
    if (SameKey(entry.Key, key)) return &entry;
  return nullptr;
}

} // namespace qm
