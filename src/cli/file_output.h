#pragma once
// Writing an output file completely or not at all, and never over an input.
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"

namespace qm::cli {

// Writes a temporary file beside `path` and renames it into place, so a
// reader never sees half a file and an earlier file of that name stays as it
// was when anything fails. `what` names the file in messages.
Status WriteOutputFile(const std::filesystem::path &path, std::string_view shown, std::string_view what,
                       std::span<const std::uint8_t> bytes);

// Refuses (exit code 11) an output argument that names the very file an
// input argument names, through links and hard links alike, or the file the
// standard input reads when the input is "-": writing it would put the
// output in the place of what was read, a module replaced by its own version
// block, a fields file by the block built from it. Checked before anything
// is read, so nothing is written.
Status RefuseOutputOverInput(const std::string &output, std::string_view outputWhat, const std::string &input,
                             std::string_view inputWhat);

} // namespace qm::cli
