#pragma once
// `diff A B`: what differs between the version information of two files
// (modules, block files or compiled resource files, in any mix), one line
// per difference, or as one JSON object with --json. Any difference is exit
// code 13.
#include <ostream>
#include <string>

#include "cli/command_context.h"

namespace qm::cli {

Status DiffCommand(const std::string &a, const std::string &b, bool asJson, std::ostream &out);

void AddDiffCommand(CLI::App &app, CommandContext &context);

} // namespace qm::cli
