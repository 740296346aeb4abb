#pragma once
// What `set` makes of its change options, and how it edits each version
// resource of a module with them. Works on a module's resources alone, so
// every front end that sets (the companion, the WebAssembly build) gives the
// same bytes and the same refusals.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "cli/module_versions.h"
#include "codec/version_edit.h"

namespace qm::cli {

// The change options as written.
struct SetEditArguments {
  std::optional<std::string> fileVersion, productVersion, table, fileOs, fileType, fileSubType, language;
  std::optional<std::string> fileVersionString, productVersionString;
  std::vector<std::string> strings, removed, flags, noFlags;
};

struct SetPlan {
  VersionEdit edit;
  std::optional<std::uint16_t> language;
};

// The edit the options ask for; a refusal names the option (the caller
// reports it as a wrong command line).
Result<SetPlan> PlanFromArguments(const SetEditArguments &arguments);

// The version resources to write: those held (or only the one under the
// plan's language), read and edited; or a new one when there are none.
// `held` is versions.Languages().
Result<std::vector<StoredVersion>> EditVersions(const std::string &module, const SetPlan &plan,
                                                ModuleVersions &versions, const std::vector<std::uint16_t> &held);

// What set --dry-run prints: the version resources that would be stored,
// read back from their bytes and shown as show shows them.
std::string DryRunText(const std::string &module, const std::vector<StoredVersion> &stored,
                       const std::vector<std::uint16_t> &held);

} // namespace qm::cli
