#pragma once
// Building a version block from the editor's values and handing it to where
// it is stored.
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "codec/block_values.h"
#include "codec/text_codec.h"
#include "codec/version_fields.h"

namespace qm {

enum class EncodeTarget { Module, BlockFile };

// Where a finished block goes: a module's sink stores it as resource type
// 16, name 1, language 0; a block file's sink writes it whole in one write.
using BlockSink = std::function<Status(std::span<const std::uint8_t>)>;

struct StringRowUtf16 {
  std::u16string Key;
  std::u16string Value;
};

// The language text read as hex ("$" + text), then the code page text read
// as a number; fails with the runtime's conversion message, language first.
Result<Translation> TranslationFromTexts(std::string_view languageText, std::string_view codePageText);

// Appends one String entry at the end of block. Refuses (block unchanged) an
// entry of 65536 bytes or more.
Status AppendStringEntry(std::vector<std::uint8_t> &block, std::u16string_view key, std::u16string_view value);

// The whole block. Conversion failures carry exactly the runtime's message
// ("'$' is not a valid integer value"); a block of 65536 bytes or more is
// refused with a message of its own.
Result<std::vector<std::uint8_t>> EncodeVersionBlock(const VersionFields &fields, const TextCodec &codec);
// The same with rows already in UTF-16; fields.Rows is not read.
Result<std::vector<std::uint8_t>> EncodeVersionBlock(const VersionFields &fields, std::span<const StringRowUtf16> rows);

// Builds the block and hands it to sink; on any encoding failure nothing
// reaches the sink. Returns the encoding failure, else the sink's own result
// (a sink that must not report failures returns Ok). The bytes are the same
// for both targets.
Status BuildVersionBlock(EncodeTarget target, const BlockSink &sink, const VersionFields &fields,
                         const TextCodec &codec);

} // namespace qm
