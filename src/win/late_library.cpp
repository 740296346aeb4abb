#include "win/late_library.h"

#include <string>

namespace qm::win {

HMODULE SystemLibrary(const char *name) {
  // Never from the program's own folder, where anyone might have put a
  // library of that name.
  if (HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
  if (GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
  // A system too old to know the flag: the system directory by its path.
  std::string path(MAX_PATH + 1, '\0');
  const UINT length = GetSystemDirectoryA(path.data(), static_cast<UINT>(path.size()));
  if (length == 0 || length >= path.size()) return nullptr;
  path.resize(length);
  return LoadLibraryA((path + "\\" + name).c_str());
}

} // namespace qm::win
