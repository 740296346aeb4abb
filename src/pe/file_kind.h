#pragma once
// Telling a module from a compiled resource file from anything else (a bare
// version block included: that is the codec's business).
#include <cstdint>
#include <filesystem>
#include <span>

#include "base/result.h"
#include "pe/byte_source.h"

namespace qm::pe {

enum class FileKind { PeModule, CompiledResources, Other };

FileKind SniffFileKind(const ByteSource &source);
FileKind SniffFileKind(std::span<const std::uint8_t> bytes);
// Errors only when the file cannot be opened.
Result<FileKind> SniffFile(const std::filesystem::path &path);

} // namespace qm::pe
