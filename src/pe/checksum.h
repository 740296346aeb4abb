#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

namespace qm::pe {

// The optional header's CheckSum: a 16-bit one's-complement sum of the
// file's little-endian words with carries folded back in, the checksum field
// itself read as zero, plus the file's length.
std::uint32_t ComputeChecksum(std::span<const std::uint8_t> file, std::size_t checksumOffset);

} // namespace qm::pe
