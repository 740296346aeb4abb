#include "cli/lint_command.h"

#include <CLI/CLI.hpp>

#include <memory>

#include "cli/argument_path.h"
#include "cli/module_walk.h"
#include "pe/file_kind.h"
#include "stamp/module_file.h"
#include "stamp/module_injection.h"

namespace qm::cli {
namespace {

// One file's findings printed.
Status LintAndPrint(const std::string &file, bool asJson, bool named, std::ostream &out) {
  QM_UNWRAP_OR_RETURN(findings, LintOne(file));
  return PrintFindings(file, findings, asJson, named, out);
}

} // namespace

// A module in a regular file is read where it lies, as show reads it;
// anything else whole.
Result<std::vector<LintFinding>> LintOne(const std::string &file) {
  if (file != "-") {
    auto source = stamp::ModuleFile::Open(ArgumentPath(file));
    if (source && pe::SniffFileKind(**source) == pe::FileKind::PeModule) return LintModuleImage(**source, file);
  }
  QM_UNWRAP_OR_RETURN(bytes, stamp::ReadWholeInput(ArgumentPath(file), file, "file", FileRole::Input));
  return LintWholeBytes(bytes, file);
}

void AddLintCommand(CLI::App &app, CommandContext &context) {
  struct Arguments {
    std::vector<std::string> files;
    bool json = false;
    WalkFlags walk;
  };
  auto a = std::make_shared<Arguments>();
  CLI::App *lint = AddCommand(app, "lint", "Warn where readers of the version resource would show other than meant");
  lint->add_option("FILE", a->files, "modules, block files or compiled resource files (told apart by content)")
      ->required();
  lint->add_flag("--json", a->json, "print one JSON array of findings instead of lines");
  AddWalkFlags(*lint, a->walk);
  lint->callback([a, &context] {
    const bool asJson = a->json || a->walk.report == "json";
    const bool named = a->files.size() > 1 || a->walk.recursive;
    RunOverModules(
        a->files, a->walk, asJson, context.out, context.err, context.failures,
        [asJson, named](const std::string &file, std::ostream &out) { return LintAndPrint(file, asJson, named, out); });
  });
}

} // namespace qm::cli
