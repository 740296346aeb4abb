#pragma once
// Telling a module from a compiled resource file from anything else (a bare
// version block included: that is the codec's business).
#include <cstdint>
#include <span>

#include "pe/byte_source.h"

namespace qm::pe {

enum class FileKind { PeModule, CompiledResources, Other };

FileKind SniffFileKind(const ByteSource &source);
FileKind SniffFileKind(std::span<const std::uint8_t> bytes);

} // namespace qm::pe
