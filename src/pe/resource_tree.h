#pragma once
// The resource tree of a module: type, name and language levels, and the
// leaves they lead to.
#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"
#include "pe/byte_source.h"
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
// checked against the directory's section, a directory reached twice (a
// loop or a shared subtree) is refused, and the tree must have exactly three
// levels. A module without a resource directory gives an empty list.
Result<std::vector<ResourceLeaf>> ParseResourceTree(const ByteSource &source, const PeHeaders &headers);

// The bytes of a leaf as the loader maps them: file bytes, and zeros for
// the part of a section beyond its raw data.
Result<std::vector<std::uint8_t>> ReadLeafData(const ByteSource &source, const PeHeaders &headers,
                                               const ResourceLeaf &leaf);

// One resource as the rebuilt tree stores it.
struct ResourceItem {
  ResourceId type{0};
  ResourceId name{0};
  std::uint16_t language = 0;
  std::uint32_t codePage = 0;
  std::vector<std::uint8_t> data;
  // For leaves not backed by file bytes: kept address and size, data unused.
  bool keepAddress = false;
  std::uint32_t keptRva = 0;
  std::uint32_t keptSize = 0;
};

// Lays out a resource section that will be mapped at `sectionRva`: the
// directories (root first) sorted as the loader's binary search needs,
// data entries, names, then each leaf's data aligned to 8. Items must have
// unique (type, name, language) keys.
Result<std::vector<std::uint8_t>> BuildResourceSection(std::span<const ResourceItem> items, std::uint32_t sectionRva);

} // namespace qm::pe
