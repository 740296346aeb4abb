#include "cli/set_command.h"

#include <CLI/CLI.hpp>

#include <memory>

#include "base/shown_text.h"
#include "cli/module_versions.h"

namespace qm::cli {
namespace {

Status SetOne(const std::string &module, const SetPlan &plan, bool dryRun, stamp::StampOptions options,
              std::ostream &out) {
  options.dryRun = dryRun;
  std::vector<StoredVersion> stored;
  std::vector<std::uint16_t> held;
  QM_RETURN_IF_ERROR(EditModule(
      module,
      [&](ModuleVersions &versions) -> Status {
        held = versions.Languages();
        QM_UNWRAP_OR_RETURN(edited, EditVersions(module, plan, versions, held));
        stored = std::move(edited);
        return Ok();
      },
      options));
  // Only what a real run would write is shown.
  if (dryRun) {
    out << DryRunText(module, stored, held);
    out.flush();
  }
  return Ok();
}

} // namespace

void AddSetCommand(CLI::App &app, CommandContext &context) {
  auto arguments = std::make_shared<SetArguments>();
  SetArguments &a = *arguments;
  CLI::App *set = AddCommand(app, "set", "Change a few things in each module's version information, keeping the rest");
  set->add_option("MODULE", a.modules, "modules to change, each written on its own (folders with --recursive)")
      ->required();
  auto single = [&](const char *name, std::optional<std::string> &target, const char *help) {
    set->add_option_function<std::string>(
        name, [&target](const std::string &value) { target = value; }, help);
  };
  single("--file-version", a.fileVersion,
         "[v]A[.B[.C[.D]]][TAIL] (such as 2.4.0-rc.1): the fixed file version takes the numbers, every table's "
         "\"FileVersion\" the text");
  single("--product-version", a.productVersion,
         "[v]A[.B[.C[.D]]][TAIL]: the fixed product version takes the numbers, every table's \"ProductVersion\" "
         "the text");
  single("--file-version-string", a.fileVersionString,
         "every table's \"FileVersion\" string only, the fixed part kept; wins over --file-version's text");
  single("--product-version-string", a.productVersionString,
         "every table's \"ProductVersion\" string only, the fixed part kept; wins over --product-version's text");
  set->add_option("--string", a.strings, "KEY=VALUE: the first string of that key in each table, appended if missing")
      ->allow_extra_args(false);
  set->add_option("--remove-string", a.removed, "KEY: remove every string of that key")->allow_extra_args(false);
  single("--table", a.table, "KEY8 (such as 040904B0): change strings in this table only");
  set->add_option("--flag", a.flags, "set a flag: debug, prerelease, patched, privatebuild, specialbuild, infoinferred")
      ->allow_extra_args(false);
  set->add_option("--no-flag", a.noFlags, "clear a flag (the same names)")->allow_extra_args(false);
  single("--file-os", a.fileOs, "a number or a File OS list item, such as \"NT (WINDOWS32)\"");
  single("--file-type", a.fileType, "a number or a File Type list item, such as APP");
  single("--file-subtype", a.fileSubType, "a number or a File SubType list item");
  single("--language", a.language,
         "hexadecimal language id: change only the version resource under it, or make a new one under it");
  set->add_flag("--dry-run", a.dryRun, "change nothing; print what would be written, as show prints it");
  AddStampFlags(*set, a.stamp);
  AddWalkFlags(*set, a.walk);
  set->callback([arguments, &context] {
    for (Error &failure : SetCommand(*arguments, context.out, context.err))
      context.failures.push_back(std::move(failure));
  });
}

std::vector<Error> SetCommand(const SetArguments &arguments, std::ostream &out, std::ostream &err) {
  auto plan = PlanFromArguments(arguments);
  if (!plan) return {WithKind(ErrorKind::Usage, plan.failure())};
  const stamp::StampOptions options = ToStampOptions(arguments.stamp, err);
  std::vector<Error> failures;
  RunOverModules(arguments.modules, arguments.walk, false, out, err, failures,
                 [&](const std::string &module, std::ostream &shown) {
                   return SetOne(module, *plan, arguments.dryRun, options, shown);
                 });
  return failures;
}

stamp::ExitCode MostSerious(const std::vector<Error> &failures) {
  using stamp::ExitCode;
  // From worst to mildest: what went wrong while writing, then what the
  // module is, then what it holds, then the inputs; a difference a check
  // found is no failure of the program, and the mildest.
  static constexpr ExitCode kOrder[] = {
      ExitCode::Internal,        ExitCode::ModuleUnwritable,  ExitCode::NotAModule,       ExitCode::ModuleUnreadable,
      ExitCode::InputRefused,    ExitCode::NoVersionResource, ExitCode::WouldBreak,       ExitCode::FieldsInvalid,
      ExitCode::InputUnreadable, ExitCode::InputEmpty,        ExitCode::OutputUnwritable, ExitCode::Usage,
      ExitCode::Different};
  for (ExitCode code : kOrder) {
    for (const Error &failure : failures)
      if (stamp::ExitCodeFor(failure) == code) return code;
  }
  return failures.empty() ? ExitCode::Success : stamp::ExitCodeFor(failures.front());
}

} // namespace qm::cli
