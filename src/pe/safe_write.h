#pragma once
// Replacing a file's contents so that it is either completely written or
// left exactly as it was.
#include <cstdint>
#include <filesystem>
#include <span>

#include "base/result.h"

namespace qm::pe {

// Writes a temporary file beside `path`, flushed to the disk, gives it the
// original's permissions and renames it over the original (or, where there
// is no file yet, into place with the default permissions). On failure the
// temporary file is removed and the original is untouched.
Status ReplaceFileContents(const std::filesystem::path &path, std::span<const std::uint8_t> contents);

} // namespace qm::pe
