#include <iostream>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#endif

#include "cli/cli_app.h"

namespace {

#ifdef _WIN32
// The arguments main() is given have passed through the system's 8-bit code
// page, which loses most of Unicode (a "✓" arrives as "?"); the UTF-16
// command line has them whole. Gives nothing when it cannot be had.
std::optional<std::vector<std::string>> Utf8Arguments() {
  int count = 0;
  LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::nullopt;
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) {
    const int length = static_cast<int>(wcslen(wide[i]));
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], length, nullptr, 0, nullptr, nullptr);
    std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, wide[i], length, text.data(), size, nullptr, nullptr);
    args.push_back(std::move(text));
  }
  LocalFree(wide);
  return args;
}
#endif

} // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
#ifdef _WIN32
  if (auto utf8 = Utf8Arguments()) args = std::move(*utf8);
#endif
  return qm::cli::RunCli(args, std::cout, std::cerr);
}
