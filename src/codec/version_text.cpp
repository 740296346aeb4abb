#include "codec/version_text.h"

#include "base/shown_text.h"
#include "codec/integer_text.h"
#include "codec/text_codec.h"

namespace qm {

Result<VersionParts> VersionFromText(std::string_view text) {
  constexpr std::size_t kExcerptLimit = 80;
  std::string quoted(1, '\'');
  quoted.append(Shown(text, kExcerptLimit)).append(1, '\'');
  VersionParts parts{};
  std::size_t count = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = text.find('.', start);
    const std::string_view part = text.substr(start, dot == std::string_view::npos ? text.npos : dot - start);
    if (count == parts.size()) {
      return Fail(ErrorKind::Invalid, quoted + " has more than four components; write Major.Minor.Release.Build");
    }
    const ParsedNumber number = ParseNumber(part, kVersionPartSyntax);
    if (number.fault == NumberFault::NotANumber) {
      return Fail(ErrorKind::Invalid, quoted + ": each component must be a decimal number from 0 to 65535");
    }
    if (number.fault == NumberFault::TooLarge) {
      return Fail(ErrorKind::Invalid, quoted + ": component " + std::string(part) + " is larger than 65535");
    }
    parts[count++] = static_cast<std::uint16_t>(number.value);
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  if (count != parts.size()) {
    return Fail(ErrorKind::Invalid, quoted + " has " + std::to_string(count) + " component" + (count == 1 ? "" : "s") +
                                        "; write all four, Major.Minor.Release.Build");
  }
  return parts;
}

Result<WrittenVersion> VersionFromWrittenText(std::string_view text) {
  constexpr std::size_t kExcerptLimit = 80;
  const auto refuse = [&](const std::string &why) -> Error {
    return Error{Quoted(text, kExcerptLimit) + " " + why +
                     "; write [v]A[.B[.C[.D]]] with parts 0 to 65535, then optionally a tail after '-', '+' or a "
                     "blank (such as v2.4.0-rc.1)",
                 ErrorKind::Invalid};
  };
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t at = (!text.empty() && (text[0] == 'v' || text[0] == 'V')) ? 1 : 0;
  WrittenVersion version;
  std::size_t count = 0;
  while (true) {
    std::size_t end = at;
    while (end < text.size() && isDigit(text[end]))
      ++end;
    if (end == at) return refuse("is not a version");
    if (count == version.Parts.size()) return refuse("has more than four parts");
    const ParsedNumber number = ParseNumber(text.substr(at, end - at), kVersionPartSyntax);
    if (!number) return refuse("has a part larger than 65535");
    version.Parts[count++] = static_cast<std::uint16_t>(number.value);
    at = end;
    if (at == text.size() || text[at] != '.') break;
    ++at;
  }
  if (at < text.size() && text[at] != '-' && text[at] != '+' && text[at] != ' ') return refuse("is not a version");
  version.Plain = count == version.Parts.size() && at == text.size() && text[0] != 'v' && text[0] != 'V';
  version.Text = version.Plain ? VersionString(version.Parts) : Utf8ToUtf16(text);
  return version;
}

std::u16string VersionString(const VersionParts &parts) {
  std::string text;
  for (std::uint16_t part : parts)
    text.append(text.empty() ? "" : ".").append(std::to_string(part));
  return Utf8ToUtf16(text);
}

} // namespace qm
