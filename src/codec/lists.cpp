#include "codec/lists.h"

#include <cstdio>

namespace qm {

std::string LanguageItemText(std::string_view name, std::uint16_t id) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(id));
  std::string text(name);
  text += " - $";
  text += digits;
  return text;
}

namespace {

// The stretch of at most four characters right after the first occurrence of
// mark. Without the mark the stretch starts at index mark.size() - 1: at the
// first character for "$", at the second for "- ".
std::string FourAfter(std::string_view text, std::string_view mark) {
  std::size_t found = text.find(mark);
  std::size_t start = found == std::string_view::npos ? mark.size() - 1 : found + mark.size();
  if (start >= text.size()) return {};
  return std::string(text.substr(start, 4));
}

} // namespace

std::string LanguageTextFromItem(std::string_view itemText) { return FourAfter(itemText, "$"); }
std::string CodePageTextFromItem(std::string_view itemText) { return FourAfter(itemText, "- "); }

std::string LanguageSearchText(std::uint16_t language) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(language));
  return digits;
}

std::string CodePageSearchText(std::uint16_t codePage) { return std::to_string(codePage); }

namespace {
template <typename Item> int FirstContaining(std::span<const Item> items, std::string_view needle) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (std::string_view(items[i]).find(needle) != std::string_view::npos) return static_cast<int>(i);
  }
  return -1;
}
} // namespace

int FirstItemContaining(std::span<const std::string> items, std::string_view needle) {
  return FirstContaining(items, needle);
}
int FirstItemContaining(std::span<const std::string_view> items, std::string_view needle) {
  return FirstContaining(items, needle);
}

int LanguageItemIndex(std::span<const std::string> languageItems, std::uint16_t language) {
  return FirstItemContaining(languageItems, LanguageSearchText(language));
}

int CodePageItemIndex(std::uint16_t codePage) {
  return FirstItemContaining(std::span<const std::string_view>(kCodePageItems), CodePageSearchText(codePage));
}

} // namespace qm
