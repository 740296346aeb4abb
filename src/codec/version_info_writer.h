#pragma once
// The inverse of the general reader: a whole VersionInfo (fixed part, every
// StringTable, every translation) back to a version block.
//
// The layout is the one resource compilers write: every node starts at a
// multiple of four, a node's length ends with its last byte of content (the
// padding before the next sibling is not counted), a String's value length
// counts its characters with the terminator, all Translation pairs go into
// one Var. A StringFileInfo is written only when there is a table and a
// VarFileInfo only when there is a translation. Reading the result gives
// back the same information; a block from windres gives back its bytes.
#include <cstdint>
#include <vector>

#include "base/result.h"
#include "codec/version_info_reader.h"

namespace qm {

// Fails, naming the node, on a text holding a NUL (the block could not say
// where it ends) and on any node of 65536 bytes or more.
Result<std::vector<std::uint8_t>> EncodeVersionInfo(const VersionInfo &info);

} // namespace qm
