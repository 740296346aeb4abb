#pragma once
// Writing a resource section: the tree of directories, data entries and
// names for a set of resources, and the data they point at.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/result.h"
#include "pe/new_file.h"
#include "pe/resource_tree.h"

namespace qm::pe {

// Lays out a resource section that will be mapped at `sectionRva`: the
// directories (root first) sorted as the loader's binary search needs,
// data entries, names, then each blob's data aligned to 8, written once
// however many leaves share it. Items must have unique (type, name,
// language) keys; no directory may hold more than 65535 entries (NoRoom
// otherwise, as for a section too large for the image).
// The section as pieces: data left in the module file stays a range of it.
// Given the file offset the section will have, large data keeps its place
// within a file-system block.
Result<NewFile> LayResourceSection(std::span<const ResourceItem> items, std::uint32_t sectionRva,
                                   std::optional<std::uint64_t> sectionOffset = std::nullopt);
// The same section's bytes, every blob read.
Result<std::vector<std::uint8_t>> BuildResourceSection(std::span<const ResourceItem> items, std::uint32_t sectionRva);

} // namespace qm::pe
