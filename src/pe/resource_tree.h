#pragma once
// The resource tree of a module: type, name and language levels, and the
// leaves they lead to.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "base/result.h"
#include "pe/byte_source.h"
#include "pe/new_file.h"
#include "pe/pe_image.h"
#include "pe/resource_id.h"

namespace qm::pe {

struct ResourceLeaf {
  ResourceId type{0};
  ResourceId name{0};
  std::uint16_t language = 0;
  std::uint32_t dataRva = 0;
  std::uint32_t size = 0;
  std::uint32_t codePage = 0;
  // The data lies wholly in file bytes; otherwise the leaf keeps its address
  // and size as they are when the tree is rebuilt.
  bool backed = false;
};

// Walks the tree the resource data directory points at. Every offset is
// checked against the directory's section and the tree must have exactly
// three levels. A directory that several entries reach (a shared subtree)
// is read under each of them; one reached again below itself (a loop) is
// refused, as is a tree whose entries, counted at every reading, are more
// than the bytes it is read from hold apart. A module without a resource
// directory gives an empty list.
Result<std::vector<ResourceLeaf>> ParseResourceTree(const ByteSource &source, const PeHeaders &headers);

// The bytes of a leaf as the loader maps them: file bytes, and zeros for
// the part of a section beyond its raw data.
Result<std::vector<std::uint8_t>> ReadLeafData(const ByteSource &source, const PeHeaders &headers,
                                               const ResourceLeaf &leaf);

// Data that leaves point at: held in memory, or a range of the module file
// left there until it is written out (or looked at), so a stamp never holds
// a large resource it does not change.
class Blob {
public:
  explicit Blob(std::vector<std::uint8_t> bytes)
      : held_(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes))), size_(held_->size()) {}
  // [offset, offset + size) of `source`, which must hold it.
  Blob(std::shared_ptr<const ByteSource> source, std::uint64_t offset, std::uint64_t size)
      : source_(std::move(source)), fileOffset_(offset), size_(size) {}

  std::uint64_t size() const { return size_; }
  bool InFile() const { return source_ != nullptr; }
  std::uint64_t FileOffset() const { return fileOffset_; }
  // The bytes, read from the file on first use; empty when that read fails.
  const std::shared_ptr<const std::vector<std::uint8_t>> &Held() const;

private:
  mutable std::shared_ptr<const std::vector<std::uint8_t>> held_;
  std::shared_ptr<const ByteSource> source_;
  std::uint64_t fileOffset_ = 0;
  std::uint64_t size_ = 0;
};

// A leaf's bytes: a window into a blob that several leaves may share, so
// data that many leaves point at is held once and written once.
class LeafBytes {
public:
  LeafBytes() = default;
  LeafBytes(std::vector<std::uint8_t> bytes) // NOLINT: a leaf's own bytes convert
      : blob_(std::make_shared<const Blob>(std::move(bytes))), size_(blob_->size()) {}
  // [offset, offset + size) of `blob`, which must hold it.
  LeafBytes(std::shared_ptr<const Blob> blob, std::size_t offset, std::size_t size)
      : blob_(std::move(blob)), offset_(offset), size_(size) {}

  std::span<const std::uint8_t> Span() const {
    if (!blob_) return {};
    const auto &held = blob_->Held();
    if (held->size() < offset_ + size_) return {};
    return std::span<const std::uint8_t>(*held).subspan(offset_, size_);
  }
  std::size_t size() const { return size_; }
  auto begin() const { return Span().begin(); }
  auto end() const { return Span().end(); }
  const std::shared_ptr<const Blob> &GetBlob() const { return blob_; }
  std::size_t Offset() const { return offset_; }

private:
  std::shared_ptr<const Blob> blob_;
  std::size_t offset_ = 0;
  std::size_t size_ = 0;
};

// One resource as the rebuilt tree stores it.
struct ResourceItem {
  ResourceId type{0};
  ResourceId name{0};
  std::uint16_t language = 0;
  std::uint32_t codePage = 0;
  LeafBytes data;
  // For leaves not backed by file bytes: kept address and size, data unused.
  bool keepAddress = false;
  std::uint32_t keptRva = 0;
  std::uint32_t keptSize = 0;
};

} // namespace qm::pe
