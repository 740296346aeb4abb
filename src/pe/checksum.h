#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

namespace qm::pe {

// The optional header's CheckSum as the platform computes it for a file
// (imagehlp's MapFileAndCheckSum): the 16-bit one's-complement sum of the
// file's little-endian words from its start, carries folded back in; the
// stored field's low and high words taken off again with a borrow; plus the
// file's length. The field may lie at any offset, odd ones included.
std::uint32_t ComputeChecksum(std::span<const std::uint8_t> file, std::size_t checksumOffset);

// The value to store in the field so that the platform's checksum of the
// file holding it equals it. Where the field lies on word boundaries this
// is the usual sum; at an odd offset its own bytes enter the sum, so the
// value is searched among the 65536 the length allows.
std::uint32_t ChecksumToStore(std::span<const std::uint8_t> file, std::size_t checksumOffset);

} // namespace qm::pe
