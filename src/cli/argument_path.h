#pragma once
// quillmark-cli takes its arguments as UTF-8 on every system: on Windows its
// entry point reads the UTF-16 command line rather than the 8-bit one, which
// cannot hold most of Unicode. Its paths are therefore made from UTF-8, not
// through the 8-bit code page as quillmark.exe /v makes them.
#include <filesystem>
#include <string>

#include "fileio/file_io.h"

namespace qm::cli {

inline std::filesystem::path ArgumentPath(const std::string &text) { return fileio::PathFromUtf8(text); }

} // namespace qm::cli
