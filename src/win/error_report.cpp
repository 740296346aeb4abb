#include "win/error_report.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "win/dialogs.h"
#include "win/path_names.h"

namespace qm::win {

std::string ApplicationTitleFromPath(std::string_view modulePath) {
  const size_t slash = modulePath.find_last_of("\\/:");
  std::string_view name = slash == std::string_view::npos ? modulePath : modulePath.substr(slash + 1);
  name = name.substr(0, name.find('.'));
  std::string title(name);
  if (title.empty()) return title;
  // The letters follow the system code page, as the rest of the program's text.
  CharUpperBuffA(title.data(), 1);
  if (title.size() > 1) CharLowerBuffA(title.data() + 1, static_cast<DWORD>(title.size() - 1));
  return title;
}

// The program may lie on a path past 260 characters, and in UTF-8 a
// character takes up to three bytes.
std::string ApplicationTitle() {
  std::vector<char> path(kLongestPathBytes + 1, '\0');
  const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
  return ApplicationTitleFromPath(std::string_view(path.data(), std::min<size_t>(length, path.size())));
}

std::string ReportedText(std::string_view message) {
  std::string text(message);
  if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) text.push_back('.');
  return text;
}

void ReportError(HWND window, std::string_view message) noexcept {
  try {
    HWND owner = window ? GetAncestor(window, GA_ROOT) : nullptr;
    CurrentDialogs().ShowMessageBox(owner, ReportedText(message), ApplicationTitle(), MB_ICONERROR | MB_OK);
  } catch (...) {
    // Nothing is left to report with; the loop goes on regardless.
  }
}

void ReportCurrentException(HWND window) noexcept {
  try {
    throw;
  } catch (const std::exception &error) {
    ReportError(window, error.what());
  } catch (...) {
    ReportError(window, "Unknown error");
  }
}

} // namespace qm::win
