#pragma once
// A four-part version as text: "1.2.3.4", as the fields file, show's JSON,
// the command line and the "FileVersion" and "ProductVersion" strings
// write it.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"

namespace qm {

using VersionParts = std::array<std::uint16_t, 4>; // Major, Minor, Release, Build

// Exactly four dot-separated decimal components, each 0 to 65535. A refusal
// (ErrorKind::Invalid) quotes the text and says what is wrong with it.
Result<VersionParts> VersionFromText(std::string_view text);

std::u16string VersionString(const VersionParts &parts);

} // namespace qm
