#include "cli/module_walk.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/shown_text.h"
#include "cli/argument_path.h"
#include "cli/file_report.h"

namespace qm::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kLfanewAt = 0x3C;

ErrorKind KindOf(const std::error_code &ec) {
  if (ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted) return ErrorKind::Denied;
  if (ec == std::errc::no_such_file_or_directory) return ErrorKind::Missing;
  return ErrorKind::Unreadable;
}

Error Unreadable(const std::string &what, const std::string &shown, const std::error_code &ec) {
  return Error{"the " + what + " " + Quoted(shown) + " cannot be read: " + ec.message(), KindOf(ec), FileRole::Module};
}

std::uint32_t LittleEndian32(const std::uint8_t *bytes) {
  return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (std::uint32_t{bytes[3]} << 24);
}

// Whether a regular file holds a PE module, from at most 68 of its bytes:
// "MZ", then "PE\0\0" where e_lfanew points, inside the file.
Result<bool> IsModuleFile(const fs::path &path, const std::string &shown) {
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  if (!file) return Unreadable("file", shown, std::error_code(errno ? errno : EIO, std::generic_category()));
  std::array<std::uint8_t, kLfanewAt + 4> head{};
  file.read(reinterpret_cast<char *>(head.data()), head.size());
  if (file.gcount() < static_cast<std::streamsize>(head.size())) {
    if (file.bad()) return Unreadable("file", shown, std::make_error_code(std::errc::io_error));
    return false; // too short for a module
  }
  if (head[0] != 'M' || head[1] != 'Z') return false;
  std::array<char, 4> signature{};
  file.seekg(LittleEndian32(head.data() + kLfanewAt));
  file.read(signature.data(), signature.size());
  if (file.bad()) return Unreadable("file", shown, std::make_error_code(std::errc::io_error));
  return file.gcount() == 4 && signature == std::array<char, 4>{'P', 'E', '\0', '\0'};
}

std::string Utf8Name(const fs::path &name) {
  const std::u8string text = name.u8string();
  return std::string(text.begin(), text.end());
}

// One folder being walked: its entries' names in order, and the next one.
struct Level {
  fs::path path;
  std::string shown;
  std::vector<fs::path> names;
  std::size_t next = 0;
};

Result<Level> ReadLevel(fs::path path, std::string shown) {
  std::error_code ec;
  fs::directory_iterator it(path, ec);
  if (ec) return Unreadable("folder", shown, ec);
  Level level{std::move(path), std::move(shown), {}, 0};
  for (const fs::directory_iterator end; it != end;) {
    level.names.push_back(it->path().filename());
    if (it.increment(ec); ec) return Unreadable("folder", level.shown, ec);
  }
  std::sort(level.names.begin(), level.names.end());
  return level;
}

class Walk {
public:
  Walk(const ModuleVisitor &visit, FileReport &report) : visit_(visit), report_(report) {}

  void Visit(const std::string &module) {
    Status status = visit_(module, report_.Output());
    report_.Done(module, status);
  }

  void Folder(const fs::path &path, const std::string &shown);

private:
  // One entry of a folder: a module is handed over, a folder is entered,
  // anything else is skipped.
  void Entry(std::vector<Level> &levels, const fs::path &path, const std::string &shown);

  const ModuleVisitor &visit_;
  FileReport &report_;
};

void Walk::Folder(const fs::path &path, const std::string &shown) {
  const std::size_t before = report_.done() + report_.failed();
  std::vector<Level> levels;
  auto first = ReadLevel(path, shown);
  if (!first) return report_.Done(shown, first.failure());
  levels.push_back(std::move(*first));
  while (!levels.empty()) {
    Level &level = levels.back();
    if (level.next == level.names.size()) {
      levels.pop_back();
      continue;
    }
    const fs::path &name = level.names[level.next++];
    const bool ended =
        level.shown.ends_with('/') || (fs::path::preferred_separator == '\\' && level.shown.ends_with('\\'));
    const std::string separator = ended ? "" : "/";
    Entry(levels, level.path / name, level.shown + separator + Utf8Name(name));
  }
  if (report_.done() + report_.failed() == before) {
    report_.Done(shown, Error{"no module found under " + Quoted(shown), ErrorKind::NotAModule, FileRole::Module});
  }
}

void Walk::Entry(std::vector<Level> &levels, const fs::path &path, const std::string &shown) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  if (ec) return report_.Done(shown, Unreadable("file", shown, ec));
  if (fs::is_symlink(status)) return report_.Skipped(shown, "a symbolic link, not followed");
  if (fs::is_directory(status)) {
    auto level = ReadLevel(path, shown);
    if (!level) return report_.Done(shown, level.failure());
    levels.push_back(std::move(*level));
    return;
  }
  if (!fs::is_regular_file(status)) return report_.Skipped(shown, "not a regular file");
  auto module = IsModuleFile(path, shown);
  if (!module) return report_.Done(shown, module.failure());
  if (!*module) return report_.Skipped(shown, "not a PE module");
  Visit(shown);
}

} // namespace

void AddWalkFlags(CLI::App &command, WalkFlags &flags) {
  command.add_flag("--recursive", flags.recursive,
                   "take folders: every PE module under them (by content), other files skipped; links not followed");
  command
      .add_option("--report", flags.report,
                  "text (the default) or json: one JSON object per file and line on stdout "
                  "(path, result, exitCode, message)")
      ->check(CLI::IsMember({"text", "json"}));
}

bool ForEachModule(const std::vector<std::string> &paths, bool recursive, const ModuleVisitor &visit,
                   FileReport &report) {
  Walk walk(visit, report);
  bool walked = false;
  for (const std::string &argument : paths) {
    std::error_code ec;
    if (recursive && fs::is_directory(ArgumentPath(argument), ec)) {
      walked = true;
      walk.Folder(ArgumentPath(argument), argument);
    } else {
      walk.Visit(argument);
    }
  }
  return walked;
}

void RunOverModules(const std::vector<std::string> &paths, const WalkFlags &flags, bool outputIsJson, std::ostream &out,
                    std::ostream &err, std::vector<Error> &failures, const ModuleVisitor &visit) {
  FileReport report(flags.report == "json" ? ReportFormat::Json : ReportFormat::Text, outputIsJson, out, err, failures);
  report.Finish(ForEachModule(paths, flags.recursive, visit, report));
}

} // namespace qm::cli
