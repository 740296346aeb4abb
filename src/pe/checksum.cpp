#include "pe/checksum.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

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
  ChecksumStream stream(checksumOffset);
  stream.Add(file);
  return stream.ToStore();
}

ChecksumStream::ChecksumStream(std::uint64_t checksumOffset)
    : fieldAt_(checksumOffset), windowStart_(checksumOffset & ~std::uint64_t{1}) {}

void ChecksumStream::AddWords(const std::uint8_t *p, std::size_t count) {
  std::size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // Four words per load, in two 32-bit lanes; a lane gains at most
    // 0x1FFFE a load, so it is emptied before 32768 loads can overflow it.
    while (count - i >= 8) {
      const std::size_t loads = std::min<std::size_t>((count - i) / 8, 32768);
      std::uint64_t lanes = 0;
      for (std::size_t k = 0; k < loads; ++k, i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        lanes += (w & 0x0000FFFF0000FFFFu) + ((w >> 16) & 0x0000FFFF0000FFFFu);
      }
      sum_ += (lanes & 0xFFFFFFFFu) + (lanes >> 32);
    }
  }
  for (; i + 1 < count; i += 2)
    sum_ += p[i] | (std::uint32_t{p[i + 1]} << 8);
}

void ChecksumStream::Add(std::span<const std::uint8_t> bytes) {
  const std::uint64_t begin = size_, end = size_ + bytes.size();
  for (std::uint64_t at = std::max(begin, windowStart_); at < std::min(end, windowStart_ + window_.size()); ++at)
    window_[static_cast<std::size_t>(at - windowStart_)] = bytes[static_cast<std::size_t>(at - begin)];
  std::size_t i = 0;
  if ((size_ & 1) && !bytes.empty()) {
    sum_ += pending_ | (std::uint32_t{bytes[0]} << 8);
    i = 1;
  }
  const std::size_t whole = (bytes.size() - i) & ~std::size_t{1};
  AddWords(bytes.data() + i, whole);
  if (i + whole < bytes.size()) pending_ = bytes[i + whole];
  size_ = end;
}

std::uint32_t ChecksumStream::ToStore() const {
  const std::uint64_t total = sum_ + ((size_ & 1) ? pending_ : 0);
  const auto field = [&] {
    std::uint32_t v = 0;
    for (std::uint64_t k = 0; k < 4; ++k) {
      const std::uint64_t at = fieldAt_ + k;
      if (at < size_) v |= std::uint32_t{window_[static_cast<std::size_t>(at - windowStart_)]} << (8 * k);
    }
    return v;
  };
  if (fieldAt_ > size_ || size_ - fieldAt_ < 4) return Finish(Fold(total), field(), size_);
  // The words the field touches (two when it starts on a word, three when
  // not), taken out of the sum and put back with each candidate value.
  const std::size_t span = (fieldAt_ & 1) ? 6 : 4;
  std::array<std::uint8_t, 6> window{};
  std::uint64_t inWindow = 0;
  for (std::size_t i = 0; i < span; ++i)
    window[i] = windowStart_ + i < size_ ? window_[i] : 0;
  for (std::size_t i = 0; i < span; i += 2)
    inWindow += window[i] | (std::uint32_t{window[i + 1]} << 8);
  const std::uint64_t rest = total - inWindow;
  const std::size_t shift = static_cast<std::size_t>(fieldAt_ - windowStart_);
  const auto platformWith = [&](std::uint32_t value) {
    std::array<std::uint8_t, 6> w = window;
    for (std::size_t k = 0; k < 4; ++k)
      w[shift + k] = static_cast<std::uint8_t>(value >> (8 * k));
    std::uint64_t sum = rest;
    for (std::size_t i = 0; i < span; i += 2)
      sum += w[i] | (std::uint32_t{w[i + 1]} << 8);
    return Finish(Fold(sum), value, static_cast<std::size_t>(size_));
  };
  // The platform's answer is the length plus a 16-bit value; the first
  // candidate is the one a word-aligned field gives.
  const std::uint32_t guess = platformWith(0);
  if (platformWith(guess) == guess) return guess;
  for (std::uint32_t low = 0; low <= 0xFFFF; ++low) {
    const auto candidate = static_cast<std::uint32_t>(low + size_);
    if (platformWith(candidate) == candidate) return candidate;
  }
  return guess;
}

} // namespace qm::pe
