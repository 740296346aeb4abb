#pragma once
// `lint FILE...`: the findings of lint_findings.h, one a line or as JSON,
// over many files and folders; a file with findings ends with exit code 13.
#include <string>
#include <vector>

#include "base/result.h"
#include "cli/command_context.h"
#include "cli/lint_findings.h"

namespace qm::cli {

// The findings in one named file, or why it could not be read; prints
// nothing.
Result<std::vector<LintFinding>> LintOne(const std::string &file);

void AddLintCommand(CLI::App &app, CommandContext &context);

} // namespace qm::cli
