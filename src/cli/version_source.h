#pragma once
// The version information that `get`, `check` and `diff` look at: a
// module's, a compiled resource file's or a bare version block's, told apart
// by content as `show` tells them apart, decoded by the general reader.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "codec/version_info.h"

namespace qm::cli {

struct SourcedVersion {
  VersionInfo Info;
  std::string Kind;                      // "module", "compiled resource file" or "version block"
  std::optional<std::uint16_t> Language; // the language it was read from; none for a block
  std::vector<std::uint16_t> Languages;  // every language holding a version resource, ascending
};

// The version resource under `language`, or without one the language show
// chooses (neutral, then US English, then the first). A language the file
// does not hold is ErrorKind::NoVersion; a block file, which has no
// languages, refuses --language as a usage error.
Result<SourcedVersion> ReadVersionSource(const std::string &file, std::optional<std::uint16_t> language);

} // namespace qm::cli
