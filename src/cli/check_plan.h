#pragma once
// What `check FILE [what it must hold]` asks, a gate for build pipelines,
// and what one file holds of it. Each thing asked that the file does not
// hold is one difference (exit code 13), told as what was asked and what is
// held.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "cli/module_walk.h"
#include "cli/version_bytes.h"
#include "codec/version_edit.h"
#include "codec/version_text.h"

namespace qm::cli {

struct CheckArguments {
  std::vector<std::string> files;
  WalkFlags walk;
  std::optional<std::string> fileVersion, productVersion, table, language;
  std::vector<std::string> strings, flags, noFlags;
};

// What a file must hold, read from the command line once for any number of
// files.
struct CheckPlan {
  // The fixed version's numbers; a version written other than as plain
  // A.B.C.D must also be the "FileVersion" (or "ProductVersion") string.
  std::optional<WrittenVersion> FileVersion, ProductVersion;
  std::vector<StringChange> Strings; // each key must hold exactly this value
  std::uint32_t FlagsOn = 0, FlagsOff = 0;
  std::optional<std::u16string> Table;   // the strings' table; else the one get reads
  std::optional<std::uint16_t> Language; // the version resource; else the one show reads
};

// Refusals are usage errors naming the option.
Result<CheckPlan> CheckPlanFromArguments(const CheckArguments &arguments);

// The failures of one file: none when it holds everything asked; one
// ErrorKind::Different per difference; or the one error that kept it from
// being read.
std::vector<Error> CheckOne(const std::string &file, const CheckPlan &plan, const VersionReader &read);

} // namespace qm::cli
