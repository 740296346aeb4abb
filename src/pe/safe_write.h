#pragma once
// Replacing a file's contents so that it is either completely written or
// left exactly as it was.
#include <cstdint>
#include <filesystem>
#include <span>

#include "base/result.h"

namespace qm::pe {

// Follows a link to the file it names, refuses anything but a regular file
// (or a path where there is no file yet), holds the file against other
// writers, writes the new contents to a file of its own beside it, flushed
// to the disk, with the owner, group and mode of the original where the
// caller may set them, and puts it in the original's place in one step. On
// failure the original is untouched and no new file remains. Messages name
// `path`.
Status ReplaceFileContents(const std::filesystem::path &path, std::span<const std::uint8_t> contents);

} // namespace qm::pe
