#pragma once
// Writing an output file completely or not at all.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>

#include "stamp/module_injection.h"

namespace qm::cli {

// Writes a temporary file beside `path` and renames it into place, so a
// reader never sees half a file and an earlier file of that name stays as it
// was when anything fails. `what` names the file in messages.
std::optional<Failure> WriteOutputFile(const std::filesystem::path &path, std::string_view shown, std::string_view what,
                                       std::span<const std::uint8_t> bytes);

} // namespace qm::cli
