#pragma once
// Replacing resources in a module, on every platform, with the shape of the
// platform's own service: begin, put or delete, end (commit or discard).
//
// Begin reads and checks the whole module; nothing is written before
// End(false). Every resource not put or deleted keeps its bytes and code
// page; data appended after the image is kept; a certificate table is
// dropped (the change invalidates it); the checksum is recomputed.
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <span>
#include <tuple>
#include <vector>

#include "base/result.h"
#include "pe/byte_source.h"
#include "pe/new_file.h"
#include "pe/pe_image.h"
#include "pe/resource_id.h"
#include "pe/resource_tree.h"

namespace qm::pe {

class ResourceUpdate {
public:
  // A module on disk; End(false) replaces the file atomically.
  static Result<ResourceUpdate> Begin(const std::filesystem::path &path);
  // A module image in memory; End(false) replaces Image().
  static Result<ResourceUpdate> BeginInMemory(std::vector<std::uint8_t> image);
  // A module read through `source`, which must stay unchanged while the
  // update lasts; data not changed stays there until Compose's result is
  // written. End(false) keeps the result in memory.
  static Result<ResourceUpdate> BeginFrom(std::shared_ptr<const ByteSource> source);

  // Stores `data` under (type, name, language), code page 0, replacing an
  // entry with the same key.
  Status Put(const ResourceId &type, const ResourceId &name, std::uint16_t language,
             std::span<const std::uint8_t> data);
  // The same with bytes that other entries may share: they are stored once.
  Status PutShared(const ResourceId &type, const ResourceId &name, std::uint16_t language, LeafBytes data);
  // Removes the entry with this key; an error when there is none.
  Status Delete(const ResourceId &type, const ResourceId &name, std::uint16_t language);

  // discard = true: drop the changes, write nothing. discard = false: build
  // the new image and write it (or keep it in memory). The update is over
  // either way; a second End is an error.
  Status End(bool discard);

  // The image as it would be written now; an error once the update has
  // ended (Image() then holds the result).
  Result<std::vector<std::uint8_t>> Build() const;
  // The same as pieces of Source() and new bytes, to be written without
  // holding the module whole.
  Result<NewFile> Compose() const;

  // The module as it was before End, the result after End(false).
  const std::vector<std::uint8_t> &Image() const;
  const ByteSource &Source() const { return *source_; }
  const PeHeaders &Headers() const { return headers_; }
  // In no particular order.
  const std::vector<ResourceItem> &Items() const { return items_; }
  // The entry with this key, or null; valid until the next Put or Delete.
  const ResourceItem *Find(const ResourceId &type, const ResourceId &name, std::uint16_t language) const;

private:
  ResourceUpdate() = default;
  static Result<ResourceUpdate> FromSource(std::shared_ptr<const ByteSource> source);

  std::filesystem::path path_; // empty for an in-memory update
  std::shared_ptr<const ByteSource> source_;
  std::vector<std::uint8_t> image_; // the result, once ended
  PeHeaders headers_;
  std::vector<ResourceItem> items_;
  // Where each key stands in items_: a put or delete costs a lookup, so
  // changing every language of a large tree stays n log n.
  using Key = std::tuple<ResourceId, ResourceId, std::uint16_t>;
  std::map<Key, std::size_t> index_;
  bool ended_ = false;
  bool built_ = false;
};

} // namespace qm::pe
