#pragma once
// System libraries the editor needs only on some action of the user (the
// file dialogs, a dropped file, a web address opened) are loaded on that
// first use rather than at start: every library the program imports is
// loaded, relocated and set up before its first line runs, and these pull
// in several more (the print spooler's among them).
#include <windows.h>

namespace qm::win {

// The system directory's copy of the library, loaded once and kept for the
// process's life; nullptr when it cannot be loaded.
HMODULE SystemLibrary(const char *name);

// A function of a system library, found on its first use; nullptr when the
// library or the function is missing, which the caller treats as the call
// failing.
template <typename Function> Function LateFunction(const char *library, const char *name) {
  HMODULE module = SystemLibrary(library);
  return module ? reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(module, name))) : nullptr;
}

} // namespace qm::win
