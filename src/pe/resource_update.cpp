#include "pe/resource_update.h"

#include <algorithm>
#include <memory>
#include <tuple>

#include "pe/byte_source.h"
#include "pe/image_layout.h"
#include "pe/safe_write.h"
#include "pe/text.h"

namespace qm::pe {
namespace {

std::string KeyText(const ResourceId &type, const ResourceId &name, std::uint16_t language) {
  return Cat("resource ", type.ToString(), "/", name.ToString(), "/", language);
}

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
      if (!source.Has(*offset, run.size)) return Fail(Cat("resource data at ", Hex(*offset), " runs past the file's end"));
      blob = std::make_shared<const Blob>(file, *offset, run.size);
    } else {
      unbacked += run.size;
      if (unbacked > kMaxUnbackedTotal)
        return Fail(Cat("the resources hold ", unbacked, " bytes with no file data behind them, too many"));
      auto bytes = ReadLeafData(source, headers, run);
      if (!bytes) return Fail(bytes.error());
      blob = std::make_shared<const Blob>(std::move(*bytes));
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
      return Fail(Cat("resource ", std::get<0>(key).ToString(), "/", std::get<1>(key).ToString(),
                      ": the tree holds more than the 65535 entries a directory can"));
    previous = &key;
  }
  return Ok();
}

} // namespace

Result<ResourceUpdate> ResourceUpdate::FromSource(std::shared_ptr<const ByteSource> file) {
  ResourceUpdate update;
  const ByteSource &source = *file;
  auto headers = ParseHeaders(source);
  if (!headers) return Fail(headers.error());
  auto leaves = ParseResourceTree(source, *headers);
  if (!leaves) return Fail(leaves.error());
  auto data = ReadLeafBlobs(file, *headers, *leaves);
  if (!data) return Fail(data.error());
  for (std::size_t i = 0; i < leaves->size(); ++i) {
    const ResourceLeaf &leaf = (*leaves)[i];
    const bool keep = !(*data)[i].GetBlob();
    ResourceItem item{leaf.type, leaf.name, leaf.language, leaf.codePage, std::move((*data)[i]), keep, leaf.dataRva,
                      leaf.size};
    if (!update.index_.emplace(Key{item.type, item.name, item.language}, i).second)
      return Fail(Cat(KeyText(item.type, item.name, item.language), " appears twice in the resource tree"));
    update.items_.push_back(std::move(item));
  }
  if (auto st = CheckDirectoryCounts(update.index_); !st) return Fail(st.error());
  // Refuse now, not at the end, a module that leaves no place for them.
  if (auto plan = PlanLayout(source, *headers); !plan) return Fail(plan.error());
  update.headers_ = std::move(*headers);
  update.source_ = std::move(file);
  return update;
}

Result<ResourceUpdate> ResourceUpdate::Begin(const std::filesystem::path &path) {
  auto bytes = ReadWholeFile(path);
  if (!bytes) return Fail(bytes.error());
  auto update = FromSource(std::make_shared<const OwnedSource>(std::move(*bytes)));
  if (!update) return Fail(path.string() + ": " + update.error());
  update->path_ = path;
  return update;
}

Result<ResourceUpdate> ResourceUpdate::BeginInMemory(std::vector<std::uint8_t> image) {
  return FromSource(std::make_shared<const OwnedSource>(std::move(image)));
}

Result<ResourceUpdate> ResourceUpdate::BeginFrom(std::shared_ptr<const ByteSource> source) {
  return FromSource(std::move(source));
}

const std::vector<std::uint8_t> &ResourceUpdate::Image() const {
  static const std::vector<std::uint8_t> none;
  if (built_ || !source_) return image_;
  const auto *owned = dynamic_cast<const OwnedSource *>(source_.get());
  return owned ? owned->Data() : none;
}

Status ResourceUpdate::Put(const ResourceId &type, const ResourceId &name, std::uint16_t language,
                           std::span<const std::uint8_t> data) {
  if (ended_) return Fail("the resource update has already ended");
  if (data.size() > 0x7FFFFFFFu) return Fail(Cat(KeyText(type, name, language), ": ", data.size(), " bytes is too large"));
  return PutShared(type, name, language, std::vector(data.begin(), data.end()));
}

Status ResourceUpdate::PutShared(const ResourceId &type, const ResourceId &name, std::uint16_t language,
                                 LeafBytes data) {
  if (ended_) return Fail("the resource update has already ended");
  const std::string key = KeyText(type, name, language);
  if (data.size() > 0x7FFFFFFFu) return Fail(Cat(key, ": ", data.size(), " bytes is too large"));
  if ((type.IsNamed() && type.Name().size() > 0xFFFF) || (name.IsNamed() && name.Name().size() > 0xFFFF))
    return Fail(Cat(key, ": a name longer than 65535 characters"));
  ResourceItem item{.type = type, .name = name, .language = language, .data = std::move(data)};
  const auto [at, added] = index_.try_emplace(Key{type, name, language}, items_.size());
  if (added)
    items_.push_back(std::move(item));
  else
    items_[at->second] = std::move(item);
  return Ok();
}

Status ResourceUpdate::Delete(const ResourceId &type, const ResourceId &name, std::uint16_t language) {
  if (ended_) return Fail("the resource update has already ended");
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

Result<NewFile> ResourceUpdate::Compose() const {
  if (ended_) return Fail("the resource update has already ended");
  // Where the section goes does not depend on its size; whether it fits
  // there does, so the plan is made again once the size is known.
  const auto where = PlanLayout(*source_, headers_);
  if (!where) return Fail(where.error());
  const auto section = LayResourceSection(items_, where->sectionRva, where->dataOffset);
  if (!section) return Fail(section.error());
  const auto plan = PlanLayout(*source_, headers_, section->Size());
  if (!plan) return Fail(plan.error());
  return ApplyLayout(*source_, headers_, *plan, *section);
}

Result<std::vector<std::uint8_t>> ResourceUpdate::Build() const {
  auto composed = Compose();
  if (!composed) return Fail(composed.error());
  return composed->Materialize(*source_);
}

Status ResourceUpdate::End(bool discard) {
  if (ended_) return Fail("the resource update has already ended");
  if (discard) {
    ended_ = true;
    return Ok();
  }
  auto built = Build();
  ended_ = true;
  if (!built) return Fail(path_.empty() ? built.error() : path_.string() + ": " + built.error());
  if (!path_.empty()) {
    if (auto st = ReplaceFileContents(path_, *built); !st) return st;
  }
  image_ = std::move(*built);
  built_ = true;
  return Ok();
}

} // namespace qm::pe
