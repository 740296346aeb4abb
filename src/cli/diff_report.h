#pragma once
// What `diff A B` prints: what differs between the version information of
// two files (modules, block files or compiled resource files, in any mix),
// one line per difference, or as one JSON object. Any difference is exit
// code 13, after the output.
#include <ostream>
#include <string>

#include "cli/version_bytes.h"

namespace qm::cli {

// `read` is asked for A, then for B.
Status DiffVersions(const std::string &a, const std::string &b, bool asJson, const VersionReader &read,
                    std::ostream &out);

} // namespace qm::cli
