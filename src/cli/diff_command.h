#pragma once
// `diff A B` (see diff_report.h).
#include "cli/command_context.h"
#include "cli/diff_report.h"

namespace qm::cli {

void AddDiffCommand(CLI::App &app, CommandContext &context);

} // namespace qm::cli
