#pragma once
// The rules that tie a chosen file name to what is done with it: the
// extension that tells a block file from a module, and the ".res" that a
// block file's name gets when saving.
#include <optional>
#include <string>
#include <string_view>

namespace qm {

inline constexpr std::string_view kBlockFileExtension = ".res";

// The file dialogs' name buffer: 260 characters and the terminating NUL.
inline constexpr std::size_t kMaxFileNameLength = 260;

// From the last "." to the end, the dot included; empty when there is no
// dot or a "\" or ":" comes after it.
std::string_view FileExtension(std::string_view path);

// Exactly ".res", letter case included.
bool IsBlockFileName(std::string_view path);

// The name a block file is written under: as chosen when it ends in exactly
// ".res", else with ".res" appended. Nothing when the result would be longer
// than `limit` (by default, what a 261-character name buffer holds).
std::optional<std::string> BlockFileName(std::string_view chosen, std::size_t limit = kMaxFileNameLength);

} // namespace qm
