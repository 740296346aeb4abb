#pragma once
// The fields file of `build` and `stamp`: the editor's values as JSON.
//
//   {
//     "fileVersion": "1.2.3.4", "productVersion": "1.2.0.0",
//     "debug": false, "preRelease": false, "special": false, "private": false,
//     "fileOs": "NT (WINDOWS32)", "fileType": "APP", "fileSubType": 0,
//     "language": "0809", "codePage": "1252",
//     "strings": [["CompanyName", "Brindlewick"], ["FileVersion", "1.2.3.4"]]
//   }
//
// Only "language" and "codePage" are required; versions default to
// "0.0.0.0", flags to false, codes to 0, strings to none. Unknown keys are
// refused, so a misspelt key is not silently left out of the block.
#include <array>
#include <cstdint>
#include <string_view>

#include "base/result.h"
#include "codec/version_fields.h"

namespace qm::cli {

// Exactly four dot-separated decimal components, each 0 to 65535.
Result<std::array<std::uint16_t, 4>> VersionFromText(std::string_view text);

// The fields as the editor would collect them; the language and code page
// texts are passed on unchecked, so their errors are the encoder's own.
Result<VersionFields> FieldsFromJson(std::string_view jsonText);

} // namespace qm::cli
