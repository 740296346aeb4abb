#include "pe/checksum.h"

#include <array>

namespace qm::pe {
namespace {

std::uint32_t Fold(std::uint64_t sum) {
  while (sum >> 16)
    sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum);
}

// The word at `i` (even), the byte past the end read as zero.
std::uint32_t WordAt(std::span<const std::uint8_t> file, std::size_t i) {
  return file[i] | (i + 1 < file.size() ? std::uint32_t{file[i + 1]} << 8 : 0);
}

// One's-complement subtraction as the platform does it, in 16 bits.
std::uint32_t TakeOff(std::uint32_t sum, std::uint32_t word) {
  return (sum < word ? sum - word - 1 : sum - word) & 0xFFFF;
}

std::uint32_t Finish(std::uint32_t folded, std::uint32_t stored, std::size_t length) {
  folded = TakeOff(folded, stored & 0xFFFF);
  folded = TakeOff(folded, stored >> 16);
  return static_cast<std::uint32_t>(folded + length);
}

std::uint32_t StoredValue(std::span<const std::uint8_t> file, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t k = 0; k < 4; ++k)
    v |= std::uint32_t{at + k < file.size() ? file[at + k] : std::uint8_t{0}} << (8 * k);
  return v;
}

} // namespace

std::uint32_t ComputeChecksum(std::span<const std::uint8_t> file, std::size_t checksumOffset) {
  // One's-complement addition is associative, so the carries can be folded
  // once at the end: a 64-bit sum of 16-bit words cannot overflow.
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < file.size(); i += 2)
    sum += WordAt(file, i);
  return Finish(Fold(sum), StoredValue(file, checksumOffset), file.size());
}

std::uint32_t ChecksumToStore(std::span<const std::uint8_t> file, std::size_t checksumOffset) {
  if (checksumOffset > file.size() || file.size() - checksumOffset < 4) return ComputeChecksum(file, checksumOffset);
  // The words the field touches (two when it starts on a word, three when
  // not), summed apart from the rest.
  const std::size_t first = checksumOffset & ~std::size_t{1};
  const std::size_t last = (checksumOffset + 4 + 1) & ~std::size_t{1}; // one past, even
  std::uint64_t rest = 0;
  for (std::size_t i = 0; i < file.size(); i += 2) {
    if (i >= first && i < last) continue;
    rest += WordAt(file, i);
  }
  std::array<std::uint8_t, 6> window{};
  for (std::size_t i = first; i < last; ++i)
    window[i - first] = i < file.size() ? file[i] : 0;
  const std::size_t shift = checksumOffset - first;
  const auto platformWith = [&](std::uint32_t value) {
    std::array<std::uint8_t, 6> w = window;
    for (std::size_t k = 0; k < 4; ++k)
      w[shift + k] = static_cast<std::uint8_t>(value >> (8 * k));
    std::uint64_t sum = rest;
    for (std::size_t i = 0; i < last - first; i += 2)
      sum += w[i] | (std::uint32_t{w[i + 1]} << 8);
    return Finish(Fold(sum), value, file.size());
  };
  // The platform's answer is the length plus a 16-bit value; the first
  // candidate is the one a word-aligned field gives.
  const std::uint32_t guess = platformWith(0);
  if (platformWith(guess) == guess) return guess;
  for (std::uint32_t low = 0; low <= 0xFFFF; ++low) {
    const std::uint32_t candidate = static_cast<std::uint32_t>(low + file.size());
    if (platformWith(candidate) == candidate) return candidate;
  }
  return guess;
}

} // namespace qm::pe
