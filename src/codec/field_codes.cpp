#include "codec/field_codes.h"

#include <cstdio>

#include "base/shown_text.h"
#include "codec/integer_text.h"

namespace qm {

namespace {

template <std::size_t N>
std::optional<std::size_t> IndexOfValue(const std::array<CodeItem, N> &table, std::uint32_t value) {
  for (std::size_t i = 0; i < N; ++i) {
    if (table[i].value == value) return i;
  }
  return std::nullopt;
}

template <std::size_t N> std::optional<std::string> NameOf(const std::array<CodeItem, N> &table, std::uint32_t value) {
  const auto index = IndexOfValue(table, value);
  if (!index) return std::nullopt;
  return std::string(table[*index].text);
}

Result<std::uint32_t> CodeFromText(std::string_view text, std::span<const CodeItem> table) {
  if (const ParsedNumber number = ParseNumber(text, kCodeSyntax)) return static_cast<std::uint32_t>(number.value);
  if (const auto code = CodeFromItemText(table, text)) return *code;
  return Fail(ErrorKind::Invalid,
              Quoted(text) +
                  " is neither a number (decimal or 0x hexadecimal, up to 32 bits) nor an item of the list; "
                  "the items are " +
                  ItemList(table));
}

} // namespace

std::uint32_t FileOsFromIndex(int index) {
  // A negative index converts to one past any table.
  if (static_cast<std::size_t>(index) >= kFileOsTable.size()) return 0;
  return kFileOsTable[static_cast<std::size_t>(index)].value;
}

std::uint32_t FileTypeFromList(int index, std::string_view text) {
  if (text.empty() || index < 0) return 0;
  if (index == kStaticLibIndex) return kStaticLibValue;
  return static_cast<std::uint32_t>(index);
}

std::uint32_t SubTypeFromList(int index, std::string_view text) {
  if (text.empty() || index < 0) return 0;
  return static_cast<std::uint32_t>(index);
}

std::uint32_t FlagsFromBoxes(bool debug, bool preRelease, bool special, bool isPrivate) {
  return (debug ? kFlagDebug : 0) | (preRelease ? kFlagPreRelease : 0) | (special ? kFlagSpecial : 0) |
         (isPrivate ? kFlagPrivate : 0);
}

std::optional<int> FileOsIndexFromValue(std::uint32_t value) {
  const auto index = IndexOfValue(kFileOsTable, value);
  if (!index) return std::nullopt;
  return static_cast<int>(*index);
}

int FileTypeIndexFromValue(std::uint32_t value) {
  // The value is the item index, except that 7 picks the last item; 6 is an
  // index inside the list too, so it picks that same item.
  if (value == kStaticLibValue) return kStaticLibIndex;
  if (value < kFileTypeTable.size()) return static_cast<int>(value);
  return -1;
}

int SubTypeIndexFromValue(std::uint32_t value) {
  if (value < kSubTypeTable.size()) return static_cast<int>(value);
  return -1;
}

std::optional<std::string> FileOsName(std::uint32_t value) { return NameOf(kFileOsTable, value); }
std::optional<std::string> FileTypeName(std::uint32_t value) { return NameOf(kFileTypeTable, value); }
std::optional<std::string> FileSubTypeName(std::uint32_t value) { return NameOf(kSubTypeTable, value); }

std::vector<std::string> FlagNames(std::uint32_t flags) {
  std::vector<std::string> names;
  std::uint32_t rest = flags;
  for (const FlagItem &flag : kFileFlagsTable) {
    if (flag.boxName.empty()) continue;
    if (flags & flag.bit) names.emplace_back(flag.boxName);
    rest &= ~flag.bit;
  }
  if (rest != 0) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(rest));
    names.emplace_back(text);
  }
  return names;
}

std::optional<std::uint32_t> CodeFromItemText(std::span<const CodeItem> table, std::string_view text) {
  for (const CodeItem &item : table) {
    if (item.text == text) return item.value;
  }
  return std::nullopt;
}

std::string ItemList(std::span<const CodeItem> table) {
  std::string list;
  for (const CodeItem &item : table)
    list.append(list.empty() ? "" : ", ").append(1, '"').append(item.text).append(1, '"');
  return list;
}

Result<std::uint32_t> FileOsFromText(std::string_view text) { return CodeFromText(text, kFileOsTable); }
Result<std::uint32_t> FileTypeFromText(std::string_view text) { return CodeFromText(text, kFileTypeTable); }
Result<std::uint32_t> FileSubTypeFromText(std::string_view text) { return CodeFromText(text, kSubTypeTable); }

Result<std::uint32_t> FlagBitFromName(std::string_view name) {
  std::string lower(name);
  for (char &c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  for (const FlagItem &flag : kFileFlagsTable) {
    if (flag.argName == lower) return flag.bit;
  }
  return Fail(ErrorKind::Invalid, Quoted(name) + " is not a flag; the flags are debug, prerelease, patched, "
                                                 "privatebuild, specialbuild and infoinferred");
}

} // namespace qm
