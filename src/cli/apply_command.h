#pragma once
// `apply MODULE INFO.json`: writes the whole version information described
// in the form `show --json` prints, under one language, keeping every other
// resource (other languages' version resources included).
#include <optional>
#include <string>

#include "cli/commands.h"
#include "cli/stamp_flags.h"

namespace CLI {
class App;
}

namespace qm::cli {

struct ApplyArguments {
  std::string module, infoFile;
  std::optional<std::string> language;
  StampFlags stamp;
};

CLI::App *AddApplyCommand(CLI::App &app, ApplyArguments &arguments);

// Notices of a successful stamp go to `err`.
std::optional<Failure> ApplyCommand(const ApplyArguments &arguments, std::ostream &err);

} // namespace qm::cli
