#pragma once
// A checked walk of a whole version resource, for showing everything in it:
// every StringTable and every translation, whatever tool wrote the block.
// Unlike the editor's decoder it follows the length fields of the tree and
// reports the first inconsistency with the path of the node it found it in.
#include <cstdint>
#include <span>

#include "base/result.h"
#include "codec/version_info.h"

namespace qm {

// A block whose tree does not hold together is refused (ErrorKind::Refused),
// the message naming the node.
Result<VersionInfo> ReadVersionInfo(std::span<const std::uint8_t> data);

} // namespace qm
