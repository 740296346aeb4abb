#include "pe/byte_source.h"

#include <algorithm>
#include <cstring>

namespace qm::pe {

std::optional<std::vector<std::uint8_t>> ByteSource::Bytes(std::uint64_t offset, std::uint64_t length) const {
  if (!Has(offset, length)) return std::nullopt;
  std::vector<std::uint8_t> out(static_cast<std::size_t>(length));
  if (!ReadAt(offset, out)) return std::nullopt;
  return out;
}

std::optional<std::uint16_t> ByteSource::U16(std::uint64_t offset) const {
  std::uint8_t b[2];
  if (!ReadAt(offset, b)) return std::nullopt;
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::optional<std::uint32_t> ByteSource::U32(std::uint64_t offset) const {
  std::uint8_t b[4];
  if (!ReadAt(offset, b)) return std::nullopt;
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

bool MemorySource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (!Has(offset, out.size())) return false;
  if (!out.empty()) std::memcpy(out.data(), data_.data() + offset, out.size());
  return true;
}

bool PagedSource::Direct(std::uint64_t offset, std::span<std::uint8_t> out) const {
  const bool read = ReadDirect(offset, out);
  readFailed_ = readFailed_ || !read;
  return read;
}

bool PagedSource::LoadPage(std::uint64_t pageStart) const {
  pageValid_ = false;
  page_.resize(static_cast<std::size_t>(std::min(kPageSize, Size() - pageStart)));
  if (!Direct(pageStart, page_)) return false;
  pageStart_ = pageStart;
  pageValid_ = true;
  return true;
}

bool PagedSource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (!Has(offset, out.size())) return false;
  if (out.size() >= kPageSize) return Direct(offset, out);
  std::size_t done = 0;
  while (done < out.size()) {
    const std::uint64_t at = offset + done;
    if (!pageValid_ || at < pageStart_ || at - pageStart_ >= page_.size()) {
      if (!LoadPage(at - at % kPageSize)) return false;
    }
    const auto inPage = static_cast<std::size_t>(at - pageStart_);
    const auto n = std::min(out.size() - done, page_.size() - inPage);
    std::memcpy(out.data() + done, page_.data() + inPage, n);
    done += n;
  }
  return true;
}

} // namespace qm::pe
