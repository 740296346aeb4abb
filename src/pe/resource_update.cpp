#include "pe/resource_update.h"

#include <algorithm>
#include <memory>
#include <tuple>

#include "pe/byte_source.h"
#include "pe/image_layout.h"
#include "pe/text.h"

namespace qm::pe {
namespace {

std::string KeyText(const ResourceId &type, const ResourceId &name, std::uint16_t language) {
  return Cat("resource ", type.ToString(), "/", name.ToString(), "/", language);
}

Error Damaged(std::string why) { return Fail(ErrorKind::Damaged, std::move(why)); }

// Zeros held for data in the part of a section that has no file bytes,
// summed over the whole tree.
constexpr std::uint64_t kMaxUnbackedTotal = 64u << 20;

// The bytes of every leaf the loader can map, read once per run of
// overlapping leaves: leaves that share data share one blob, so memory and
// the new module follow the data the module really holds. A leaf outside
// every section gets no blob: it keeps its address and size.
Result<std::vector<LeafBytes>> ReadLeafBlobs(const std::shared_ptr<const ByteSource> &file, const PeHeaders &headers,
                                             const std::vector<ResourceLeaf> &leaves) {
  const ByteSource &source = *file;
  std::vector<LeafBytes> out(leaves.size());
  std::vector<std::size_t> mapped;
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    const ResourceLeaf &leaf = leaves[i];
    const auto index = headers.SectionOfRva(leaf.dataRva);
    if (leaf.backed || (index && leaf.size <= headers.sections[*index].VirtualExtent() -
                                                  (leaf.dataRva - headers.sections[*index].virtualAddress)))
      mapped.push_back(i);
  }
  std::sort(mapped.begin(), mapped.end(),
            [&](std::size_t a, std::size_t b) { return leaves[a].dataRva < leaves[b].dataRva; });
  std::uint64_t unbacked = 0;
  for (std::size_t k = 0; k < mapped.size();) {
    const std::uint32_t start = leaves[mapped[k]].dataRva;
    std::uint64_t end = std::uint64_t{start} + leaves[mapped[k]].size;
    std::size_t last = k + 1;
    for (; last < mapped.size() && leaves[mapped[last]].dataRva < end; ++last)
      end = std::max(end, std::uint64_t{leaves[mapped[last]].dataRva} + leaves[mapped[last]].size);
    ResourceLeaf run = leaves[mapped[k]];
    run.size = static_cast<std::uint32_t>(end - start);
    std::shared_ptr<const Blob> blob;
    if (const auto offset = headers.RvaToOffset(run.dataRva, run.size); offset && run.size != 0) {
      // File data stays in the file until the new module is written.
      if (!source.Has(*offset, run.size))
        return Damaged(Cat("resource data at ", Hex(*offset), " runs past the file's end"));
      blob = std::make_shared<const Blob>(file, *offset, run.size);
    } else {
      unbacked += run.size;
      if (unbacked > kMaxUnbackedTotal)
        return Damaged(Cat("the resources hold ", unbacked, " bytes with no file data behind them, too many"));
      QM_UNWRAP_OR_RETURN(bytes, ReadLeafData(source, headers, run));
      blob = std::make_shared<const Blob>(std::move(bytes));
    }
    for (; k < last; ++k)
      out[mapped[k]] = LeafBytes(blob, leaves[mapped[k]].dataRva - start, leaves[mapped[k]].size);
  }
  return out;
}

// A tree that reaches one type, name or language through several entries
// can hold more than a directory's 16-bit counts: such a module is damaged,
// and refused before anything is built.
template <typename Index> Status CheckDirectoryCounts(const Index &index) {
  std::size_t types = 0, names = 0, languages = 0;
  const typename Index::key_type *previous = nullptr;
  for (const auto &[key, at] : index) {
    const bool newType = !previous || !(std::get<0>(*previous) == std::get<0>(key));
    const bool newName = newType || !(std::get<1>(*previous) == std::get<1>(key));
    types += newType;
    names = newType ? 1 : names + newName;
    languages = newName ? 1 : languages + 1;
    if (types > 0xFFFF || names > 0xFFFF || languages > 0xFFFF)
      return Damaged(Cat("resource ", std::get<0>(key).ToString(), "/", std::get<1>(key).ToString(),
                         ": the tree holds more than the 65535 entries a directory can"));
    previous = &key;
  }
  return Ok();
}

} // namespace

Result<ResourceUpdate> ResourceUpdate::BeginFrom(std::shared_ptr<const ByteSource> file) {
  ResourceUpdate update;
  const ByteSource &source = *file;
  QM_UNWRAP_OR_RETURN(headers, ParseHeaders(source));
  // A module that leaves no place for the resources is refused now, not
  // at the end; the plan is kept for Compose.
  QM_UNWRAP_OR_RETURN(plan, PlanLayout(source, headers));
  QM_UNWRAP_OR_RETURN(leaves, ParseResourceTree(source, headers));
  QM_UNWRAP_OR_RETURN(data, ReadLeafBlobs(file, headers, leaves));
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    const ResourceLeaf &leaf = leaves[i];
    const bool keep = !data[i].GetBlob();
    ResourceItem item{leaf.type,          leaf.name, leaf.language, leaf.codePage,
                      std::move(data[i]), keep,      leaf.dataRva,  leaf.size};
    if (!update.index_.emplace(Key{item.type, item.name, item.language}, i).second)
      return Damaged(Cat(KeyText(item.type, item.name, item.language), " appears twice in the resource tree"));
    update.items_.push_back(std::move(item));
  }
  QM_RETURN_IF_ERROR(CheckDirectoryCounts(update.index_));
  update.headers_ = std::move(headers);
  update.plan_ = plan;
  update.source_ = std::move(file);
  return update;
}

Result<ResourceUpdate> ResourceUpdate::BeginInMemory(std::vector<std::uint8_t> image) {
  return BeginFrom(std::make_shared<const OwnedSource>(std::move(image)));
}

Status ResourceUpdate::Put(const ResourceId &type, const ResourceId &name, std::uint16_t language,
                           std::span<const std::uint8_t> data) {
  if (data.size() > 0x7FFFFFFFu)
    return Fail(ErrorKind::NoRoom, Cat(KeyText(type, name, language), ": ", data.size(), " bytes is too large"));
  return PutShared(type, name, language, std::vector(data.begin(), data.end()));
}

Status ResourceUpdate::PutShared(const ResourceId &type, const ResourceId &name, std::uint16_t language,
                                 LeafBytes data) {
  // The key's text is made only for a message: a stamp that succeeds
  // never formats it.
  if (data.size() > 0x7FFFFFFFu)
    return Fail(ErrorKind::NoRoom, Cat(KeyText(type, name, language), ": ", data.size(), " bytes is too large"));
  if ((type.IsNamed() && type.Name().size() > 0xFFFF) || (name.IsNamed() && name.Name().size() > 0xFFFF))
    return Fail(ErrorKind::NoRoom, Cat(KeyText(type, name, language), ": a name longer than 65535 characters"));
  ResourceItem item{.type = type, .name = name, .language = language, .data = std::move(data)};
  const auto [at, added] = index_.try_emplace(Key{type, name, language}, items_.size());
  if (added)
    items_.push_back(std::move(item));
  else
    items_[at->second] = std::move(item);
  return Ok();
}

Status ResourceUpdate::Delete(const ResourceId &type, const ResourceId &name, std::uint16_t language) {
  const auto at = index_.find(Key{type, name, language});
  if (at == index_.end()) return Fail(Cat(KeyText(type, name, language), ": no such resource to delete"));
  // The last item takes the deleted one's place: the order is the layout's
  // to choose, not the list's.
  const std::size_t i = at->second;
  index_.erase(at);
  if (i + 1 != items_.size()) {
    items_[i] = std::move(items_.back());
    index_[Key{items_[i].type, items_[i].name, items_[i].language}] = i;
  }
  items_.pop_back();
  return Ok();
}

const ResourceItem *ResourceUpdate::Find(const ResourceId &type, const ResourceId &name, std::uint16_t language) const {
  const auto at = index_.find(Key{type, name, language});
  return at == index_.end() ? nullptr : &items_[at->second];
}

Result<NewFile> ResourceUpdate::Compose() const { return ComposeModule(*source_, headers_, plan_, items_); }

} // namespace qm::pe
