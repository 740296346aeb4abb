#include "pe/checksum.h"

namespace qm::pe {

std::uint32_t ComputeChecksum(std::span<const std::uint8_t> file, std::size_t checksumOffset) {
  // One's-complement addition is associative, so the carries can be folded
  // once at the end: a 64-bit sum of 16-bit words cannot overflow.
  std::uint64_t sum = 0;
  const std::size_t size = file.size();
  const std::size_t even = size & ~std::size_t{1};
  for (std::size_t i = 0; i < even; i += 2)
    sum += file[i] | (std::uint32_t{file[i + 1]} << 8);
  if (size != even) sum += file[even];
  // The checksum field's two words count as zero.
  for (std::size_t i = checksumOffset; i < checksumOffset + 4 && i + 1 < size; i += 2)
    sum -= file[i] | (std::uint32_t{file[i + 1]} << 8);
  while (sum >> 16)
    sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + size);
}

} // namespace qm::pe
