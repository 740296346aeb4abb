#pragma once
// Random access to the bytes of a module, in memory or wherever a caller
// keeps them (a file held by the file layer).
//
// Opening a module for reading should touch only the headers, the section
// table, the resource tree and the one leaf asked for, so the parsers read
// through this interface instead of loading whole files.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "base/result.h"

namespace qm::pe {

class ByteSource {
public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Fills `out` with the bytes at [offset, offset + out.size()); false when
  // the range is not wholly inside the source or cannot be read.
  virtual bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;

  bool Has(std::uint64_t offset, std::uint64_t length) const { return offset <= Size() && length <= Size() - offset; }
  std::optional<std::vector<std::uint8_t>> Bytes(std::uint64_t offset, std::uint64_t length) const;
  std::optional<std::uint16_t> U16(std::uint64_t offset) const;
  std::optional<std::uint32_t> U32(std::uint64_t offset) const;
};

class MemorySource final : public ByteSource {
public:
  explicit MemorySource(std::span<const std::uint8_t> data) : data_(data) {}
  std::uint64_t Size() const override { return data_.size(); }
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;

private:
  std::span<const std::uint8_t> data_;
};

// A source read through a one-page cache: the resource tree is many small
// records close together. Reads of a page or more go straight through.
class PagedSource : public ByteSource {
public:
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const final;
  // Whether a read of bytes inside the source failed (the disk, or the file
  // cut short under us). The parsers take any range they cannot read for one
  // outside the module and call it damaged; their caller tells the two apart.
  bool ReadFailed() const { return readFailed_; }

protected:
  // Reads exactly [offset, offset + out.size()), which lies in the source.
  virtual bool ReadDirect(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;

private:
  static constexpr std::uint64_t kPageSize = 64 * 1024;
  bool LoadPage(std::uint64_t pageStart) const;
  bool Direct(std::uint64_t offset, std::span<std::uint8_t> out) const;

  mutable std::vector<std::uint8_t> page_;
  mutable std::uint64_t pageStart_ = 0;
  mutable bool pageValid_ = false;
  mutable bool readFailed_ = false;
};

// A module's bytes held in memory by the source itself.
class OwnedSource final : public ByteSource {
public:
  explicit OwnedSource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    return MemorySource(bytes_).ReadAt(offset, out);
  }
  const std::vector<std::uint8_t> &Data() const { return bytes_; }

private:
  std::vector<std::uint8_t> bytes_;
};

} // namespace qm::pe
