#pragma once
// The whole version information as `show --json` prints it, read back for
// `apply`, so that show's output, edited or not, can be written into a
// module again.
//
// Every member show prints is taken; members it does not print are refused.
// The list names (fileOsName, fileFlagNames, ...) follow from the numbers:
// they may be left out, and where present they must name what the number
// says, so an edit of a name alone is not silently lost. kind,
// otherLanguages and what show says of a module's file (signed,
// appendedData, selfCheckingPacker) are read back but never written.
#include <cstdint>
#include <optional>
#include <string_view>

#include "base/result.h"
#include "codec/version_info_reader.h"

namespace qm::cli {

struct InfoFromJson {
  VersionInfo Info;
  std::optional<std::uint16_t> Language; // the "language" member
  // The fixed part's structure version is not printed; whoever writes the
  // information keeps the one already stored.
};

Result<InfoFromJson> VersionInfoFromJson(std::string_view jsonText);

} // namespace qm::cli
