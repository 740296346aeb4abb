#pragma once
// How `show` prints a version resource: as text for people, as one JSON
// object for programs, or as a resource script for resource compilers.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
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
    // A packer whose stub checks the program's image: no stamp keeps it running.
    std::optional<std::string_view> selfCheckingPacker;
  };
  std::optional<ModuleFile> file;
};

std::string ShowAsText(const VersionInfo &info, const ShownOrigin &origin);
std::string ShowAsJson(const VersionInfo &info, const ShownOrigin &origin);

// One VERSIONINFO statement under a LANGUAGE statement: the resource's
// language, or for a bare block (which has none) the language of its first
// translation, or neutral (0, 0) when it has no translation either. Fails
// (Invalid) where a script cannot say the information: a NUL inside a key or
// value, a table key outside plain ASCII.
Result<std::string> ShowAsScript(const VersionInfo &info, const ShownOrigin &origin);

} // namespace qm::cli
