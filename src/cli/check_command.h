#pragma once
// `check FILE... [what it must hold]` (see check_plan.h), over many files
// and folders.
#include "cli/check_plan.h"
#include "cli/command_context.h"

namespace qm::cli {

void AddCheckCommand(CLI::App &app, CommandContext &context);

} // namespace qm::cli
