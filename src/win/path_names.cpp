#include "win/path_names.h"

namespace qm::win {

bool HoldsStandIns(std::string_view path) {
  if (path.starts_with("\\\\?\\") || path.starts_with("\\\\.\\")) path.remove_prefix(4);
  return path.find_first_of("?*") != std::string_view::npos;
}

} // namespace qm::win
