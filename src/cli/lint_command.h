#pragma once
// `lint FILE`: what in a version resource the platform's readers would show
// other than its author meant (codec/version_lint.h), one finding a line or
// as JSON; a file with findings ends with exit code 13.
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "base/result.h"
#include "cli/command_context.h"
#include "codec/version_lint.h"

namespace qm::cli {

// The findings in one file (a module, block file or compiled .res, told
// apart by content as show tells them), or why it could not be read; prints
// nothing. A module's findings include those about the module itself.
Result<std::vector<LintFinding>> LintOne(const std::string &file);

// "id: message", one line each.
std::string FindingsAsText(const std::vector<LintFinding> &findings);
// {"id", "message", "table"?, "key"?}: table and key only where the finding
// is about one.
nlohmann::ordered_json FindingAsJson(const LintFinding &finding);

void AddLintCommand(CLI::App &app, CommandContext &context);

} // namespace qm::cli
