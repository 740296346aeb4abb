#pragma once
// Bounds-checked little-endian reading over a byte span.
//
// Every read says whether it succeeded; values are assembled from bytes,
// never by casting pointers into the data; the checks are written so that
// they cannot wrap (off <= size && len <= size - off).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace qm {

class ByteReader {
public:
  ByteReader() = default;
  explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}

  std::size_t size() const { return data_.size(); }
  std::span<const std::uint8_t> bytes() const { return data_; }

  bool has(std::size_t off, std::size_t len) const { return off <= data_.size() && len <= data_.size() - off; }

  std::optional<std::uint8_t> u8(std::size_t off) const {
    if (!has(off, 1)) return std::nullopt;
    return data_[off];
  }
  std::optional<std::uint16_t> u16(std::size_t off) const {
    if (!has(off, 2)) return std::nullopt;
    return static_cast<std::uint16_t>(data_[off] | (data_[off + 1] << 8));
  }
  std::optional<std::uint32_t> u32(std::size_t off) const {
    if (!has(off, 4)) return std::nullopt;
    return static_cast<std::uint32_t>(data_[off]) | (static_cast<std::uint32_t>(data_[off + 1]) << 8) |
           (static_cast<std::uint32_t>(data_[off + 2]) << 16) | (static_cast<std::uint32_t>(data_[off + 3]) << 24);
  }
  std::optional<std::uint64_t> u64(std::size_t off) const {
    if (!has(off, 8)) return std::nullopt;
    return static_cast<std::uint64_t>(*u32(off)) | (static_cast<std::uint64_t>(*u32(off + 4)) << 32);
  }

  // A view limited to [off, off + len), so a child can never be read past
  // its parent; empty when the range does not fit.
  std::optional<ByteReader> sub(std::size_t off, std::size_t len) const {
    if (!has(off, len)) return std::nullopt;
    return ByteReader(data_.subspan(off, len));
  }

private:
  std::span<const std::uint8_t> data_;
};

// Little-endian writing into a growing buffer, with patching of lengths.
template <typename Buffer> void PutU16(Buffer &buf, std::size_t off, std::uint16_t v) {
  buf[off] = static_cast<std::uint8_t>(v & 0xFF);
  buf[off + 1] = static_cast<std::uint8_t>(v >> 8);
}
template <typename Buffer> void PutU32(Buffer &buf, std::size_t off, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    buf[off + i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
}
template <typename Buffer> void PutU64(Buffer &buf, std::size_t off, std::uint64_t v) {
  for (int i = 0; i < 8; ++i)
    buf[off + i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
}

} // namespace qm
