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
// "0.0.0.0", flags to false, codes to 0, strings to none. A version may be
// written as people write it ("v2.4.0-rc.1"); one that is not plain
// A.B.C.D also gives its text to the "FileVersion" or "ProductVersion"
// string, unless the strings list that key. Unknown keys are
// refused, so a misspelt key is not silently left out of the block.
#include <nlohmann/json_fwd.hpp>

#include <string>
#include <string_view>

#include "base/result.h"
#include "codec/version_fields.h"

namespace qm::cli {

// A value or text as a message quotes it: short, and on one line, however
// long or strange the file's text.
std::string JsonExcerpt(const nlohmann::json &value);
std::string TextExcerpt(std::string_view text);

// Refuses JSON text whose arrays and objects nest deeper than `limit`,
// before any parser recurses into it.
Status CheckJsonNesting(std::string_view jsonText, int limit = 64);

// JSON text as a value. Refused: nesting deeper than CheckJsonNesting
// allows, text that is not JSON, and a member named twice in one object,
// since the parser would keep one of the two and silently drop the other.
Result<nlohmann::json> ParseJsonText(std::string_view jsonText);

// The fields as the editor would collect them; every refusal is
// ErrorKind::Invalid. A language or code page that
// converts but does not fit in 16 bits is refused; one that does not convert
// is passed on, so its error is the encoder's own.
Result<VersionFields> FieldsFromJson(std::string_view jsonText);

} // namespace qm::cli
