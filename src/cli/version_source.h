#pragma once
// The version information of a file named on the command line, read as
// version_bytes.h reads bytes: a module in a regular file where it lies,
// anything else (a pipe, standard input, a block file) whole.
#include <cstdint>
#include <optional>
#include <string>

#include "base/result.h"
#include "cli/version_bytes.h"

namespace qm::cli {

Result<SourcedVersion> ReadVersionSource(const std::string &file, std::optional<std::uint16_t> language);

} // namespace qm::cli
