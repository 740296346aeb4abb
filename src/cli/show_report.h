#pragma once
// How `show` prints a version resource: as text for people, or as one JSON
// object for scripts.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "codec/version_info_reader.h"
#include "pe/appended_data.h"

namespace qm::cli {

struct ShownOrigin {
  std::string kind;                          // "module", "compiled resource file" or "version block"
  std::optional<std::uint16_t> language;     // the language the resource was read from
  std::vector<std::uint16_t> otherLanguages; // other languages holding a version resource
  // For a module: what its file holds beyond the image.
  struct ModuleFile {
    std::optional<pe::AppendedPart> signature;
    std::vector<pe::AppendedPart> appended;
  };
  std::optional<ModuleFile> file;
};

// The list item names of a code, where the field code tables have one.
std::optional<std::string> FileOsName(std::uint32_t value);
std::optional<std::string> FileTypeName(std::uint32_t value);
std::optional<std::string> FileSubTypeName(std::uint32_t value);
// The check boxes' names of the set flag bits, in box order; bits without
// a box as one hexadecimal number at the end.
std::vector<std::string> FlagNames(std::uint32_t flags);

std::string ShowAsText(const VersionInfo &info, const ShownOrigin &origin);
std::string ShowAsJson(const VersionInfo &info, const ShownOrigin &origin);

} // namespace qm::cli
