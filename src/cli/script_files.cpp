#include "cli/script_files.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <string>
#include <system_error>

#include "base/shown_text.h"
#include "cli/argument_path.h"
#include "fileio/file_io.h"

namespace qm::cli {
namespace {

namespace fs = std::filesystem;

// No header a script includes comes near this; a larger file is no header.
constexpr std::uint64_t kMaxIncludedBytes = 8u << 20;

std::string Utf8(const fs::path &path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

} // namespace

Result<std::optional<IncludedFile>> FileResolver::Find(std::string_view name, bool quoted, std::string_view folder) {
  const fs::path relative = ArgumentPath(std::string(name));
  std::vector<fs::path> candidates;
  if (relative.is_absolute()) {
    candidates.push_back(relative);
  } else {
    if (quoted) candidates.push_back(ArgumentPath(std::string(folder)) / relative);
    for (const std::string &dir : folders_)
      candidates.push_back(ArgumentPath(dir) / relative);
  }
  for (const fs::path &candidate : candidates) {
    std::error_code error;
    if (!fs::is_regular_file(candidate, error)) continue;
    auto bytes = fileio::ReadInput(candidate, kMaxIncludedBytes);
    if (!bytes)
      return Fail(ErrorKind::Invalid, Quoted(Utf8(candidate)) + " cannot be read: " + bytes.failure().message);
    IncludedFile file;
    file.Name = Utf8(candidate.lexically_normal());
    file.Folder = Utf8(candidate.parent_path());
    file.Text.assign(bytes->begin(), bytes->end());
    return std::optional<IncludedFile>(std::move(file));
  }
  return std::optional<IncludedFile>();
}

ScriptFiles::ScriptFiles(const std::string &path, const ScriptFlags &flags) : resolver_(flags.includeDirs) {
  place_.resolver = &resolver_;
  // The standard input has no folder: its "..." includes are looked for
  // in the current one, as a compiler reading a pipe does.
  place_.folder = path == "-" ? "." : Utf8(ArgumentPath(path).parent_path());
  if (place_.folder.empty()) place_.folder = ".";
}

void AddScriptFlags(CLI::App &command, ScriptFlags &flags) {
  command.add_option("-I,--include-dir", flags.includeDirs,
                     "folder searched for a script's #include files, after the including file's own (repeatable)");
  command.add_option("-D,--define", flags.defines, "define a macro for a script, NAME or NAME=VALUE (repeatable)");
  command.add_option("-U,--undefine", flags.undefines, "undefine a macro for a script (repeatable)");
  command
      .add_option("--codepage", flags.codePage,
                  "code page of a script's plain \"...\" literals: 1252 (the default) or 65001 (UTF-8)")
      ->check(CLI::Range(1, 65535));
  command.add_flag("--only-version", flags.onlyVersion,
                   "skip a script's other resource statements instead of refusing");
}

} // namespace qm::cli
