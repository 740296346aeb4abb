#pragma once
// `apply MODULE INFO.json`: writes the whole version information described
// in the form `show --json` prints, under one language, keeping every other
// resource (other languages' version resources included).
#include <optional>
#include <string>

#include "cli/commands.h"

namespace CLI {
class App;
}

namespace qm::cli {

struct ApplyArguments {
  std::string module, infoFile;
  std::optional<std::string> language;
};

CLI::App *AddApplyCommand(CLI::App &app, ApplyArguments &arguments);

std::optional<Failure> ApplyCommand(const ApplyArguments &arguments);

} // namespace qm::cli
