#pragma once
// Where a rebuilt resource section goes in a module, and the new image.
#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"
#include "pe/byte_source.h"
#include "pe/new_file.h"
#include "pe/pe_image.h"
#include "pe/resource_tree.h"

namespace qm::pe {

enum class Placement {
  InPlace,        // the resource section is the last one: grow or shrink it
  MoveRelocation, // only the relocation section follows: move that one
  NewSection,     // anything else, or no resources yet: append a section
};

struct LayoutPlan {
  Placement placement = Placement::NewSection;
  std::size_t resourceSection = 0; // for InPlace and MoveRelocation
  std::uint32_t sectionRva = 0;    // where the new resource data will be mapped
  std::uint64_t dataOffset = 0;    // where it will lie in the new file
  // For NewSection: the headers' new size, how far every section's raw
  // data moves down the file to make room for them (whole FileAlignment
  // units), and whether bound imports after the section table give way.
  std::uint32_t sizeOfHeaders = 0;
  std::uint32_t rawShift = 0;
  bool dropBoundImports = false;
};

// Decides where new resources go: the address and file offset do not
// depend on their size, so the plan is made once, before they are laid
// out. A module that leaves no way to place them (no room for another
// section header, an image that would span 2 GiB or more) fails as NoRoom.
Result<LayoutPlan> PlanLayout(const ByteSource &image, const PeHeaders &headers);
inline Result<LayoutPlan> PlanLayout(std::span<const std::uint8_t> image, const PeHeaders &headers) {
  return PlanLayout(MemorySource(image), headers);
}

// The new file: `items` laid out as a resource section for where `plan`
// puts it, checked to fit there at its real size (NoRoom), and placed; the
// tail after the image kept and moved, a certificate dropped, file offsets
// and sizes fixed, the checksum recomputed. The result is pieces of `image`
// and new bytes.
Result<NewFile> ComposeModule(const ByteSource &image, const PeHeaders &headers, const LayoutPlan &plan,
                              std::span<const ResourceItem> items);

} // namespace qm::pe
