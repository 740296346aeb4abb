#pragma once
// `set MODULE... [changes]`: changes a few things in each module's version
// information and keeps everything else, under the language each version
// resource was stored in. Each module is written on its own, completely or
// not at all; a failure with one does not stop the next.
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/command_context.h"
#include "cli/module_walk.h"
#include "cli/set_plan.h"
#include "cli/stamp_flags.h"
#include "stamp/exit_codes.h"

namespace qm::cli {

struct SetArguments : SetEditArguments {
  std::vector<std::string> modules;
  bool dryRun = false;
  StampFlags stamp;
  WalkFlags walk;
};

void AddSetCommand(CLI::App &app, CommandContext &context);

// One failure per module that failed (or one for the command line), in the
// order of the modules; with --report json, one for all (see module_walk.h).
// Notices of a successful stamp go to `err`.
std::vector<Error> SetCommand(const SetArguments &arguments, std::ostream &out, std::ostream &err);

// The code a run with these failures ends with: the most serious one's.
stamp::ExitCode MostSerious(const std::vector<Error> &failures);

} // namespace qm::cli
