#pragma once
// `get FILE KEY` and `get FILE --fixed NAME` (see get_value.h).
#include "cli/command_context.h"
#include "cli/get_value.h"

namespace qm::cli {

void AddGetCommand(CLI::App &app, CommandContext &context);

} // namespace qm::cli
