#pragma once
// `get FILE KEY` prints one string of the version information as the
// platform's version lookup finds it; `get FILE --fixed NAME` one member of
// the fixed part, by the name show --json gives it. Either is one line on
// the output; what is absent is a difference (exit code 13) with nothing on
// the output.
#include <optional>
#include <ostream>
#include <string>

#include "cli/command_context.h"

namespace qm::cli {

struct GetArguments {
  std::string file;
  std::optional<std::string> key, fixed, table, language;
};

Status GetCommand(const GetArguments &arguments, std::ostream &out);

void AddGetCommand(CLI::App &app, CommandContext &context);

} // namespace qm::cli
