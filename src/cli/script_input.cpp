#include "cli/script_input.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <string>
#include <system_error>

#include "base/shown_text.h"
#include "cli/argument_path.h"
#include "cli/command_context.h"
#include "codec/rc_script_reader.h"
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

// Included files from disk: a quoted name first beside the file that
// includes it, then in each -I folder in the order given.
class FileResolver final : public IncludeResolver {
public:
  explicit FileResolver(const std::vector<std::string> &folders) : folders_(folders) {}

  Result<std::optional<IncludedFile>> Find(std::string_view name, bool quoted, std::string_view folder) override {
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

private:
  const std::vector<std::string> &folders_;
};

} // namespace

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

bool LooksLikeJson(std::span<const std::uint8_t> text) {
  std::string_view chars(reinterpret_cast<const char *>(text.data()), text.size());
  if (chars.starts_with("\xEF\xBB\xBF")) chars.remove_prefix(3);
  const std::size_t first = chars.find_first_not_of(" \t\r\n");
  return first != std::string_view::npos && chars[first] == '{';
}

Result<InfoFromJson> VersionInfoFromScript(std::span<const std::uint8_t> text, const std::string &path,
                                           const ScriptFlags &flags) {
  std::string_view chars(reinterpret_cast<const char *>(text.data()), text.size());
  // Editors on Windows mark UTF-8 with a byte order mark, which is no part
  // of the script; UTF-16 (what some save .rc files as) is not read at all.
  if (chars.starts_with("\xEF\xBB\xBF")) chars.remove_prefix(3);
  if (chars.starts_with("\xFF\xFE") || chars.starts_with("\xFE\xFF")) {
    return Error{"the resource script " + Quoted(path) + " is UTF-16; save it as UTF-8 or ASCII", ErrorKind::Invalid,
                 FileRole::Input};
  }
  FileResolver resolver(flags.includeDirs);
  ScriptOptions options;
  options.OnlyVersion = flags.onlyVersion;
  options.Defines = flags.defines;
  options.Undefines = flags.undefines;
  options.CodePage = static_cast<std::uint16_t>(flags.codePage);
  options.Resolver = &resolver;
  // The standard input has no folder: its "..." includes are looked for
  // in the current one, as a compiler reading a pipe does.
  options.Folder = path == "-" ? "." : Utf8(ArgumentPath(path).parent_path());
  if (options.Folder.empty()) options.Folder = ".";
  auto parsed = ReadResourceScript(chars, options);
  if (!parsed) {
    Error error = Context("the resource script " + Quoted(path) + " is refused: ", parsed.failure());
    return InRole(FileRole::Input, WithKind(ErrorKind::Invalid, std::move(error)));
  }
  InfoFromJson out;
  out.Info = std::move(parsed->Info);
  if (parsed->HasLanguage) out.Language = parsed->Language;
  return out;
}

} // namespace qm::cli
