#pragma once
// Command-line arguments name files in the system's 8-bit code page. On
// Windows a std::filesystem::path built straight from such a string would be
// decoded by the C++ library's own rule, so the text goes through the
// platform's ANSI conversion to UTF-16 first.
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace qm::cli {

inline std::filesystem::path PathFromArgument(const std::string &text) {
#ifdef _WIN32
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (wide <= 0) return {};
  std::wstring converted(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, converted.data(), wide);
  return std::filesystem::path(converted);
#else
  return std::filesystem::path(text);
#endif
}

} // namespace qm::cli
