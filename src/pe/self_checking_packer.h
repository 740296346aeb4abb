#pragma once
// Packers and protectors whose stub verifies the program's own image (its
// size, its header fields, a checksum over its bytes) before it starts it:
// any stamp, even one that only appends bytes or rewrites the header's
// checksum, makes such a program refuse to start or crash. They leave
// marks: the names of their sections, the first bytes at the entry point.
#include <optional>
#include <string_view>

#include "pe/byte_source.h"
#include "pe/pe_image.h"

namespace qm::pe {

// The name of the self-checking packer whose marks the module bears, or
// none. Packers that do not check the image (UPX, ASPack, FSG, MEW,
// WWPack) are not named.
std::optional<std::string_view> FindSelfCheckingPacker(const ByteSource &file, const PeHeaders &headers);

} // namespace qm::pe
