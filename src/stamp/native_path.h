#pragma once
// Command-line arguments name files in the system's 8-bit code page. On
// Windows a std::filesystem::path built straight from such a string would be
// decoded by the C++ library's own rule, so the text goes through the
// platform's ANSI conversion to UTF-16 first (in the file layer).
#include "fileio/file_io.h"

namespace qm::stamp {
using fileio::PathFromArgument;
} // namespace qm::stamp
