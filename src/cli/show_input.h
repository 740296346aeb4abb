#pragma once
// What show prints of a file's bytes, and the block build makes of a fields
// file or script: the parts of those commands that need no file, shared with
// the WebAssembly build so both give the same text and bytes.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "cli/block_input.h"
#include "cli/script_input.h"
#include "cli/show_report.h"
#include "pe/byte_source.h"

namespace qm::cli {

enum class ShowFormat { Text, Json, Script };

// What the module's file holds beyond its image, for show.
void DescribeModuleFile(const pe::ByteSource &image, ShownOrigin &origin);

// A whole file's version resource, told apart by content: a module, a
// compiled resource file or a bare block. Messages name `file`.
Result<VersionPayload> PayloadFromBytes(std::vector<std::uint8_t> bytes, const std::string &file, ShownOrigin &origin);

// The payload's information in the form asked for (origin says where it
// came from); a damaged block, or one a script cannot say, is refused.
Result<std::string> ShowPayload(const VersionPayload &payload, ShownOrigin origin, ShowFormat format,
                                std::string_view file);

// Encodes a fields file into a block, exactly as saving a block file from
// the editor would: the same encoder, strings taken as UTF-8.
Result<std::vector<std::uint8_t>> BlockFromFields(std::span<const std::uint8_t> text, const std::string &fieldsFile);

// A JSON fields file or a resource script's VERSIONINFO (told apart by
// content) as a block. A script is read with `flags`, its includes found
// through `place`.
Result<std::vector<std::uint8_t>> BlockFromText(std::span<const std::uint8_t> text, const std::string &input,
                                                const ScriptFlags &flags, const ScriptPlace &place = {});

} // namespace qm::cli
