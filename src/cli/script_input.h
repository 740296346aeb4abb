#pragma once
// Resource scripts as apply and build take them: one VERSIONINFO statement,
// read into the same information a JSON file gives, so that everything after
// the reading (the stamp, the block file) is one path for both.
#include <cstdint>
#include <span>
#include <string_view>

#include "base/result.h"
#include "cli/info_json.h"

namespace qm::cli {

// A JSON file starts with '{' after blanks (and a UTF-8 byte order mark);
// a resource script never does. Anything else is taken for a script.
bool LooksLikeJson(std::span<const std::uint8_t> text);

// The script's VERSIONINFO and, when it has one, its LANGUAGE. Every refusal
// is Invalid and says the line and column. A UTF-8 byte order mark is
// skipped; UTF-16 is refused. `onlyVersion` skips the script's other
// resource statements instead of refusing them.
Result<InfoFromJson> VersionInfoFromScript(std::span<const std::uint8_t> text, std::string_view shown,
                                           bool onlyVersion);

} // namespace qm::cli
