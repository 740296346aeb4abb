#include "codec/file_names.h"

namespace qm {

std::string_view FileExtension(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return {};
  if (path.find_first_of("\\:", dot) != std::string_view::npos) return {};
  return path.substr(dot);
}

bool IsBlockFileName(std::string_view path) { return FileExtension(path) == kBlockFileExtension; }

std::optional<std::string> BlockFileName(std::string_view chosen, std::size_t limit) {
  std::string name(chosen);
  if (!IsBlockFileName(chosen)) name.append(kBlockFileExtension);
  if (name.size() > limit) return std::nullopt;
  return name;
}

} // namespace qm
