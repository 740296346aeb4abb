#include "cli/cli_app.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <new>
#include <optional>

#include "cli/apply_command.h"
#include "cli/commands.h"
#include "cli/set_command.h"
#include "cli/stamp_flags.h"
#include "qm_version.h"
#include "stamp/exit_codes.h"
#include "stamp/text_escape.h"

namespace qm::cli {
namespace {

using stamp::Quoted;
using stamp::Shown;

constexpr const char *kProgram = "quillmark-cli";
// Far above any message the program makes, with its quoted texts cut short.
constexpr std::size_t kMessageLimit = 2000;

struct Arguments {
  std::string file, fields, module, blockFile;
  bool json = false;
  bool raw = false;
  StampFlags stamp;
};

CLI::App *AddCommand(CLI::App &app, const char *name, const char *description) {
  CLI::App *command = app.add_subcommand(name, description);
  command->fallthrough(false);
  return command;
}

bool IsCommand(const CLI::App &app, const std::string &name) {
  const auto commands = app.get_subcommands([](const CLI::App *) { return true; });
  return std::any_of(commands.begin(), commands.end(), [&](const CLI::App *c) { return c->check_name(name); });
}

} // namespace

int RunCli(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  CLI::App app("Shows, edits, builds and stores the version resource of Windows modules.", kProgram);
  app.set_version_flag("--version", std::string(kProgram) + " " + QM_VERSION_TEXT);
  app.require_subcommand(1);
  app.footer("Exit codes: 0 success, 2 wrong arguments, 3 input file unreadable, 4 block file empty, "
             "5 module unreadable, 6 not a PE module, 7 module cannot be stamped, 8 input refused, "
             "9 no version resource, 10 fields invalid, 11 output not written, 12 the stamp would break "
             "appended data that checks the file or remove a signature (see --force, --signed), "
             "1 unexpected failure.");
  Arguments a;

  CLI::App *show = AddCommand(app, "show", "Print the version information of a module, block file or compiled .res");
  show->add_option("FILE", a.file, "module, block file or compiled resource file (told apart by content)")->required();
  show->add_flag("--json", a.json, "print one JSON object instead of text");

  CLI::App *build = AddCommand(app, "build", "Build a block file from a JSON fields file");
  build->add_option("FIELDS", a.fields, "JSON fields file (- for the standard input)")->required();
  build->add_option("BLOCKFILE", a.blockFile, "block file to write")->required();

  CLI::App *inject =
      AddCommand(app, "inject", "Store a block file as a module's version resource, as quillmark /v does");
  inject->add_option("MODULE", a.module, "module to change")->required();
  inject
      ->add_option("BLOCKFILE", a.blockFile, "version block, or a compiled .res holding one (- for the standard input)")
      ->required();
  inject->add_flag("--raw", a.raw, "store the file's bytes as they are, whatever they hold");
  AddStampFlags(*inject, a.stamp);

  CLI::App *extract = AddCommand(app, "extract", "Write a module's version resource as a block file");
  extract->add_option("MODULE", a.module, "module to read")->required();
  extract->add_option("BLOCKFILE", a.blockFile, "block file to write")->required();

  CLI::App *stamp = AddCommand(app, "stamp", "Build a version block from a JSON fields file and store it in a module");
  stamp->add_option("MODULE", a.module, "module to change")->required();
  stamp->add_option("FIELDS", a.fields, "JSON fields file (- for the standard input)")->required();
  AddStampFlags(*stamp, a.stamp);

  SetArguments setArguments;
  CLI::App *set = AddSetCommand(app, setArguments);
  ApplyArguments applyArguments;
  CLI::App *apply = AddApplyCommand(app, applyArguments);

  // One line per failure, like every other message of the program; the
  // parser's words quote arguments as they were given.
  app.failure_message([](const CLI::App *, const CLI::Error &error) {
    return std::string(kProgram) + ": " + Shown(error.what()) + " (see --help)\n";
  });
  if (!args.empty() && !args.front().starts_with("-") && !IsCommand(app, args.front())) {
    err << kProgram << ": unknown command " << Quoted(args.front())
        << "; the commands are show, set, apply, build, inject, extract and stamp (see --help)\n";
    return ToInt(ExitCode::Usage);
  }
  try {
    // CLI11 takes a vector of arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::ParseError &error) {
    const int code = app.exit(error, out, err);
    return code == 0 ? ToInt(ExitCode::Success) : ToInt(ExitCode::Usage);
  }

  std::optional<Failure> failure;
  std::vector<Failure> failures; // set reports one per module
  try {
    if (show->parsed())
      failure = ShowCommand(a.file, a.json, out);
    else if (build->parsed())
      failure = BuildCommand(a.fields, a.blockFile);
    else if (inject->parsed())
      failure = InjectCommand(a.module, a.blockFile, a.raw, ToStampOptions(a.stamp, err));
    else if (extract->parsed())
      failure = ExtractCommand(a.module, a.blockFile);
    else if (stamp->parsed())
      failure = StampCommand(a.module, a.fields, ToStampOptions(a.stamp, err));
    else if (set->parsed())
      failures = SetCommand(setArguments, out, err);
    else if (apply->parsed())
      failure = ApplyCommand(applyArguments, err);
  } catch (const std::bad_alloc &) {
    failure = Failure{ExitCode::Internal, "out of memory; nothing was written"};
  } catch (const std::exception &error) {
    failure = Failure{ExitCode::Internal, "unexpected failure: " + Shown(error.what())};
  }
  if (failure) failures.push_back(std::move(*failure));
  // Every message quotes outside text where it is made; this is the last
  // guard that a failure stays one line of bounded length whatever it holds.
  for (const Failure &f : failures)
    err << kProgram << ": " << Shown(f.message, kMessageLimit) << "\n";
  err.flush();
  return ToInt(MostSerious(failures));
}

} // namespace qm::cli
