#include "cli/check_command.h"

#include <CLI/CLI.hpp>

#include <memory>

#include "cli/version_source.h"

namespace qm::cli {
namespace {

// One file's differences as its one result. As text each stays a line of
// its own (all but the last go to the failures at once, in order); a JSON
// record carries them in one message.
Status OneResult(std::vector<Error> found, bool joined, std::vector<Error> &failures) {
  if (found.empty()) return Ok();
  Error last = std::move(found.back());
  found.pop_back();
  if (!joined) {
    for (Error &difference : found)
      failures.push_back(std::move(difference));
    return last;
  }
  if (found.empty()) return last;
  Error all = std::move(found.front());
  for (std::size_t i = 1; i < found.size(); ++i)
    all.message += "; " + found[i].message;
  all.message += "; " + last.message;
  return all;
}

} // namespace

void AddCheckCommand(CLI::App &app, CommandContext &context) {
  auto a = std::make_shared<CheckArguments>();
  CLI::App *check = AddCommand(app, "check",
                               "Check that a file's version information holds what is asked (exit 13 "
                               "and one line per difference when not)");
  check->add_option("FILE", a->files, "modules, block files or compiled resource files (told apart by content)")
      ->required();
  check->add_option("--file-version", a->fileVersion,
                    "VERSION: the fixed file version; written other than as A.B.C.D, also the \"FileVersion\" string");
  check->add_option("--product-version", a->productVersion,
                    "VERSION: the fixed product version; likewise the \"ProductVersion\" string");
  check->add_option("--string", a->strings, "KEY=VALUE: the string of that key holds exactly VALUE")
      ->allow_extra_args(false);
  check->add_option("--flag", a->flags, "a flag that must be set (the names set --flag takes)")
      ->allow_extra_args(false);
  check->add_option("--no-flag", a->noFlags, "a flag that must be clear")->allow_extra_args(false);
  check->add_option("--table", a->table,
                    "KEY8 (such as 040904B0): check strings in this table instead of the one get would read");
  check->add_option("--language", a->language, "hexadecimal language id: check the version resource under it");
  AddWalkFlags(*check, a->walk);
  check->callback([a, &context] {
    auto plan = CheckPlanFromArguments(*a);
    if (!plan) return context.Report(plan.failure());
    const bool joined = a->walk.report == "json";
    RunOverModules(a->files, a->walk, false, context.out, context.err, context.failures,
                   [&](const std::string &file, std::ostream &) {
                     return OneResult(CheckOne(file, *plan, ReadVersionSource), joined, context.failures);
                   });
  });
}

} // namespace qm::cli
