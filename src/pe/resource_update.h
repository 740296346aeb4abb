#pragma once
// Replacing resources in a module, on every platform, with the shape of the
// platform's own service: begin, put or delete, then compose the new file.
//
// Begin reads and checks the headers and the resource tree, and plans where
// the new resources go; nothing is written here: Compose gives the new file
// as pieces of the old one and new bytes, for the caller to write (the
// stamping layer holds and replaces the file). Every resource not put or
// deleted keeps its bytes and code page; data appended after the image is
// kept; a certificate table is dropped (the change invalidates it); the
// checksum is recomputed.
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <tuple>
#include <vector>

#include "base/result.h"
#include "pe/byte_source.h"
#include "pe/image_layout.h"
#include "pe/new_file.h"
#include "pe/pe_image.h"
#include "pe/resource_id.h"
#include "pe/resource_tree.h"

namespace qm::pe {

class ResourceUpdate {
public:
  // A module read through `source`, which must stay unchanged while the
  // update lasts; data not changed stays there until Compose's result is
  // written. Fails as NotAModule or Damaged for a module that cannot be
  // read, NoRoom for a sound one that leaves no place for new resources.
  static Result<ResourceUpdate> BeginFrom(std::shared_ptr<const ByteSource> source);
  // A module image in memory.
  static Result<ResourceUpdate> BeginInMemory(std::vector<std::uint8_t> image);

  // Stores `data` under (type, name, language), code page 0, replacing an
  // entry with the same key.
  Status Put(const ResourceId &type, const ResourceId &name, std::uint16_t language,
             std::span<const std::uint8_t> data);
  // The same with bytes that other entries may share: they are stored once.
  Status PutShared(const ResourceId &type, const ResourceId &name, std::uint16_t language, LeafBytes data);
  // Removes the entry with this key; an error when there is none.
  Status Delete(const ResourceId &type, const ResourceId &name, std::uint16_t language);

  // The new file as pieces of Source() and new bytes, to be written
  // without holding the module whole (NewFile::WriteTo), or made whole
  // (NewFile::Materialize) for a module in memory. NoRoom when the
  // resources do not fit where they go.
  Result<NewFile> Compose() const;

  const ByteSource &Source() const { return *source_; }
  const PeHeaders &Headers() const { return headers_; }
  // In no particular order.
  const std::vector<ResourceItem> &Items() const { return items_; }
  // The entry with this key, or null; valid until the next Put or Delete.
  const ResourceItem *Find(const ResourceId &type, const ResourceId &name, std::uint16_t language) const;

private:
  ResourceUpdate() = default;

  std::shared_ptr<const ByteSource> source_;
  PeHeaders headers_;
  LayoutPlan plan_; // where the new section goes; only whether it fits waits for its size
  std::vector<ResourceItem> items_;
  // Where each key stands in items_: a put or delete costs a lookup, so
  // changing every language of a large tree stays n log n.
  using Key = std::tuple<ResourceId, ResourceId, std::uint16_t>;
  std::map<Key, std::size_t> index_;
};

} // namespace qm::pe
