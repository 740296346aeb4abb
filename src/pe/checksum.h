#pragma once
#include <array>
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

// ChecksumToStore over a file given in order, piece by piece, so a file
// written as a stream is summed as it goes out, never held whole.
class ChecksumStream {
public:
  explicit ChecksumStream(std::uint64_t checksumOffset);
  void Add(std::span<const std::uint8_t> bytes);
  std::uint64_t Size() const { return size_; }
  std::uint32_t ToStore() const;

private:
  void AddWords(const std::uint8_t *p, std::size_t count);

  std::uint64_t fieldAt_;
  std::uint64_t windowStart_; // the words the field touches: [start, start + 6)
  std::array<std::uint8_t, 6> window_{};
  std::uint64_t size_ = 0;
  std::uint64_t sum_ = 0;    // the exact sum of every whole 16-bit word so far
  std::uint8_t pending_ = 0; // the low byte of a word still open
};

} // namespace qm::pe
