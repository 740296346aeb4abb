#pragma once
// What `inject` and `show` make of a file: a bare version block, a compiled
// resource file holding one, or something else.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "pe/byte_source.h"

namespace qm::cli {

// The language of choice when a file holds the version resource in several
// languages: neutral, then US English, then the first.
inline constexpr std::uint16_t kPreferredLanguage = 0x0409;

// Starts like a VS_VERSION_INFO: the key "VS_VERSION_INFO" and its NUL in
// UTF-16 right after the three header words. Nothing more is checked.
bool LooksLikeVersionBlock(std::span<const std::uint8_t> bytes);

struct VersionPayload {
  std::vector<std::uint8_t> bytes;
  std::optional<std::uint16_t> language;     // where the file had languages
  std::vector<std::uint16_t> otherLanguages; // the other languages holding a version resource
};

// The version resource (type 16, name 1) of a compiled resource file.
Result<VersionPayload> VersionFromResFile(std::span<const std::uint8_t> bytes, std::string_view shown);

// The version resource of a module image in the language of choice (as
// above), with the other languages holding one; messages name `shown`.
Result<VersionPayload> VersionFromModule(const pe::ByteSource &image, std::string_view shown);

// What inject stores of a block file's bytes: a version block as it is, the
// version resource of a compiled resource file, or with `raw` whatever the
// file holds. Anything else, and an empty file, is refused with the module
// named as not changed.
Result<std::vector<std::uint8_t>> BlockToStore(std::vector<std::uint8_t> bytes, bool raw, std::string_view blockFile);

} // namespace qm::cli
