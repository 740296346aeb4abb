#pragma once
// What `get` prints: one string of the version information as the
// platform's version lookup finds it, or one member of the fixed part by
// the name show --json gives it. Either is one line on the output; what is
// absent is a difference (exit code 13) with nothing on the output.
#include <optional>
#include <ostream>
#include <string>

#include "cli/version_bytes.h"

namespace qm::cli {

struct GetArguments {
  std::string file;
  std::optional<std::string> key, fixed, table, language;
};

// The arguments are checked before `read` is asked for the file.
Status GetValue(const GetArguments &arguments, const VersionReader &read, std::ostream &out);

} // namespace qm::cli
