#include "cli/cli_app.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <new>

#include "base/shown_text.h"
#include "cli/apply_command.h"
#include "cli/check_command.h"
#include "cli/command_context.h"
#include "cli/commands.h"
#include "cli/diff_command.h"
#include "cli/get_command.h"
#include "cli/lint_command.h"
#include "cli/set_command.h"
#include "qm_version.h"
#include "stamp/exit_codes.h"

namespace qm::cli {
namespace {

constexpr const char *kProgram = "quillmark-cli";
// Far above any message the program makes, with its quoted texts cut short.
constexpr std::size_t kMessageLimit = 2000;

bool IsCommand(const CLI::App &app, const std::string &name) {
  const auto commands = app.get_subcommands([](const CLI::App *) { return true; });
  return std::any_of(commands.begin(), commands.end(), [&](const CLI::App *c) { return c->check_name(name); });
}

// The program's own options and every command, in the order --help lists them.
void Register(CLI::App &app, CommandContext &context) {
  app.set_version_flag("--version", std::string(kProgram) + " " + QM_VERSION_TEXT);
  app.require_subcommand(1);
  app.footer("Exit codes: 0 success, 2 wrong arguments, 3 input file unreadable, 4 block file empty, "
             "5 module unreadable, 6 not a PE module, 7 module cannot be stamped, 8 input refused, "
             "9 no version resource, 10 fields invalid, 11 output not written, 12 the stamp would break "
             "appended data that checks the file or remove a signature (see --force, --signed), "
             "13 a check found a difference (check, diff, get of an absent key; lint with findings), "
             "1 unexpected failure.");
  AddShowCommand(app, context);
  AddBuildCommand(app, context);
  AddInjectCommand(app, context);
  AddExtractCommand(app, context);
  AddStampCommand(app, context);
  AddSetCommand(app, context);
  AddApplyCommand(app, context);
  AddGetCommand(app, context);
  AddCheckCommand(app, context);
  AddDiffCommand(app, context);
  AddLintCommand(app, context);
  // One line per failure, like every other message of the program; the
  // parser's words quote arguments as they were given.
  app.failure_message([](const CLI::App *, const CLI::Error &error) {
    return std::string(kProgram) + ": " + Shown(error.what()) + " (see --help)\n";
  });
}

} // namespace

CLI::App *AddCommand(CLI::App &app, const std::string &name, const std::string &description) {
  CLI::App *command = app.add_subcommand(name, description);
  command->fallthrough(false);
  return command;
}

int RunCli(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  CommandContext context{out, err, {}};
  CLI::App app("Shows, edits, builds and stores the version resource of Windows modules.", kProgram);
  Register(app, context);
  if (!args.empty() && !args.front().starts_with("-") && !IsCommand(app, args.front())) {
    err << kProgram << ": unknown command " << Quoted(args.front())
        << "; the commands are show, set, apply, get, check, diff, lint, build, inject, extract and stamp (see "
           "--help)\n";
    return stamp::ToInt(stamp::ExitCode::Usage);
  }
  try {
    // CLI11 takes a vector of arguments last first; the command given runs
    // once the whole line has been checked.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::ParseError &error) {
    const int code = app.exit(error, out, err);
    return stamp::ToInt(code == 0 ? stamp::ExitCode::Success : stamp::ExitCode::Usage);
  } catch (const std::bad_alloc &) {
    context.failures.push_back(Error{"out of memory; nothing was written", ErrorKind::OutOfMemory});
  } catch (const std::exception &error) {
    context.failures.push_back(Error{"unexpected failure: " + Shown(error.what())});
  }
  // Every message quotes outside text where it is made; this is the last
  // guard that a failure stays one line of bounded length whatever it holds.
  for (const Error &failure : context.failures)
    err << kProgram << ": " << Shown(failure.message, kMessageLimit) << "\n";
  err.flush();
  return stamp::ToInt(MostSerious(context.failures));
}

} // namespace qm::cli
