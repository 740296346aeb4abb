#include "codec/field_codes.h"

namespace qm {

std::uint32_t FileOsFromIndex(int index) {
  if (index < 0 || index >= static_cast<int>(kFileOsValues.size())) return 0;
  return kFileOsValues[static_cast<std::size_t>(index)];
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
  for (std::size_t i = 0; i < kFileOsValues.size(); ++i) {
    if (kFileOsValues[i] == value) return static_cast<int>(i);
  }
  return std::nullopt;
}

int FileTypeIndexFromValue(std::uint32_t value) {
  // The value is the item index, except that 7 picks the last item; 6 is an
  // index inside the list too, so it picks that same item.
  if (value == kStaticLibValue) return kStaticLibIndex;
  if (value < kFileTypeItems.size()) return static_cast<int>(value);
  return -1;
}

int SubTypeIndexFromValue(std::uint32_t value) {
  if (value < kSubTypeItems.size()) return static_cast<int>(value);
  return -1;
}

} // namespace qm
