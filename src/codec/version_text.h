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

// A version as people and build pipelines write it: an optional "v" or "V",
// one to four decimal parts 0 to 65535, and an optional tail that starts with
// '-', '+' or a blank ("2.4.0-rc.1+g1a2b", "v1.2", "1.2.3.4 beta").
struct WrittenVersion {
  VersionParts Parts{}; // the numbers, missing parts 0
  // What a "FileVersion" or "ProductVersion" string takes: the text exactly
  // as given, or for plain Major.Minor.Release.Build the four numbers as
  // VersionString writes them.
  std::u16string Text;
  bool Plain = false; // exactly four parts, no "v", no tail
};

// Refused (ErrorKind::Invalid) with a message that quotes the text and shows
// the accepted form: five parts, a part above 65535, a sign, hexadecimal, an
// empty part or any other character where a tail cannot start.
Result<WrittenVersion> VersionFromWrittenText(std::string_view text);

} // namespace qm
