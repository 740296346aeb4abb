#pragma once
// `apply MODULE INFO`: writes the whole version information described in
// the form `show --json` prints, or in a resource script holding one
// VERSIONINFO statement (as `show --format rc` prints it), under one
// language, keeping every other resource (other languages' version
// resources included).
#include <optional>
#include <ostream>
#include <string>

#include "cli/command_context.h"
#include "cli/script_input.h"
#include "cli/stamp_flags.h"

namespace qm::cli {

struct ApplyArguments {
  std::string module, infoFile;
  std::optional<std::string> language;
  ScriptFlags script; // how a script is preprocessed and read
  StampFlags stamp;
};

void AddApplyCommand(CLI::App &app, CommandContext &context);

// Notices of a successful stamp go to `err`.
Status ApplyCommand(const ApplyArguments &arguments, std::ostream &err);

} // namespace qm::cli
