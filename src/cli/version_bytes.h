#pragma once
// The version information that `get`, `check` and `diff` look at, from
// bytes in hand: a module's, a compiled resource file's or a bare version
// block's, told apart by content as `show` tells them apart, decoded by the
// general reader. Opens no file, so the WebAssembly build shares it.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "codec/version_info.h"
#include "pe/byte_source.h"

namespace qm::cli {

struct SourcedVersion {
  VersionInfo Info;
  std::string Kind;                      // "module", "compiled resource file" or "version block"
  std::optional<std::uint16_t> Language; // the language it was read from; none for a block
  std::vector<std::uint16_t> Languages;  // every language holding a version resource, ascending
};

// How a command gets the version information of the file it was named:
// from the file itself in the companion, from the host's bytes in the
// WebAssembly build. The language as ReadVersionSource takes it.
using VersionReader =
    std::function<Result<SourcedVersion>(const std::string &file, std::optional<std::uint16_t> language)>;

// The version resource of a module image under `language`, or without one
// the language show chooses (neutral, then US English, then the first). A
// language the module does not hold is ErrorKind::NoVersion.
Result<SourcedVersion> VersionFromModuleImage(const pe::ByteSource &image, const std::string &file,
                                              std::optional<std::uint16_t> language);

// The same of a whole file's bytes, told apart by content; a block file,
// which has no languages, refuses `language` as a usage error.
Result<SourcedVersion> VersionFromWholeBytes(std::span<const std::uint8_t> bytes, const std::string &file,
                                             std::optional<std::uint16_t> language);

} // namespace qm::cli
