#include "pe/resource_update.h"

#include <algorithm>
#include <set>
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

} // namespace

Result<ResourceUpdate> ResourceUpdate::FromImage(std::vector<std::uint8_t> image) {
  ResourceUpdate update;
  const MemorySource source(image);
  auto headers = ParseHeaders(source);
  if (!headers) return Fail(headers.error());
  auto leaves = ParseResourceTree(source, *headers);
  if (!leaves) return Fail(leaves.error());
  std::set<std::tuple<ResourceId, ResourceId, std::uint16_t>> keys;
  for (const auto &leaf : *leaves) {
    ResourceItem item{leaf.type, leaf.name, leaf.language, leaf.codePage, {}, !leaf.backed, leaf.dataRva, leaf.size};
    if (leaf.backed) {
      auto data = ReadLeafData(source, *headers, leaf);
      if (!data) return Fail(data.error());
      item.data = std::move(*data);
    }
    if (!keys.insert({item.type, item.name, item.language}).second)
      return Fail(Cat(KeyText(item.type, item.name, item.language), " appears twice in the resource tree"));
    update.items_.push_back(std::move(item));
  }
  // Refuse now, not at the end, a module that leaves no place for them.
  if (auto plan = PlanLayout(image, *headers); !plan) return Fail(plan.error());
  update.headers_ = std::move(*headers);
  update.image_ = std::move(image);
  return update;
}

Result<ResourceUpdate> ResourceUpdate::Begin(const std::filesystem::path &path) {
  auto bytes = ReadWholeFile(path);
  if (!bytes) return Fail(bytes.error());
  auto update = FromImage(std::move(*bytes));
  if (!update) return Fail(path.string() + ": " + update.error());
  update->path_ = path;
  return update;
}

Result<ResourceUpdate> ResourceUpdate::BeginInMemory(std::vector<std::uint8_t> image) {
  return FromImage(std::move(image));
}

Status ResourceUpdate::Put(const ResourceId &type, const ResourceId &name, std::uint16_t language,
                           std::span<const std::uint8_t> data) {
  if (ended_) return Fail("the resource update has already ended");
  const std::string key = KeyText(type, name, language);
  if (data.size() > 0x7FFFFFFFu) return Fail(Cat(key, ": ", data.size(), " bytes is too large"));
  if ((type.IsNamed() && type.Name().size() > 0xFFFF) || (name.IsNamed() && name.Name().size() > 0xFFFF))
    return Fail(Cat(key, ": a name longer than 65535 characters"));
  ResourceItem item{type, name, language, 0, {data.begin(), data.end()}, false, 0, 0};
  for (auto &existing : items_) {
    if (existing.type == type && existing.name == name && existing.language == language) {
      existing = std::move(item);
      return Ok();
    }
  }
  items_.push_back(std::move(item));
  return Ok();
}

Status ResourceUpdate::Delete(const ResourceId &type, const ResourceId &name, std::uint16_t language) {
  if (ended_) return Fail("the resource update has already ended");
  const auto it = std::find_if(items_.begin(), items_.end(), [&](const ResourceItem &item) {
    return item.type == type && item.name == name && item.language == language;
  });
  if (it == items_.end()) return Fail(Cat(KeyText(type, name, language), ": no such resource to delete"));
  items_.erase(it);
  return Ok();
}

Result<std::vector<std::uint8_t>> ResourceUpdate::Build() const {
  auto plan = PlanLayout(image_, headers_);
  if (!plan) return Fail(plan.error());
  auto section = BuildResourceSection(items_, plan->sectionRva);
  if (!section) return Fail(section.error());
  return ApplyLayout(image_, headers_, *plan, *section);
}

Status ResourceUpdate::End(bool discard) {
  if (ended_) return Fail("the resource update has already ended");
  ended_ = true;
  if (discard) return Ok();
  auto built = Build();
  if (!built) return Fail(path_.empty() ? built.error() : path_.string() + ": " + built.error());
  if (!path_.empty()) {
    if (auto st = ReplaceFileContents(path_, *built); !st) return st;
  }
  image_ = std::move(*built);
  return Ok();
}

} // namespace qm::pe
