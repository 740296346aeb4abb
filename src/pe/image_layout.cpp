#include "pe/image_layout.h"

#include <algorithm>

#include "pe/image_writer.h"
#include "pe/pe_layout.h"
#include "pe/section_writer.h"
#include "pe/text.h"

namespace qm::pe {
namespace {

Error NoRoom(std::string why) { return Fail(ErrorKind::NoRoom, std::move(why)); }

Error NoRoomForHeader(const std::string &why) {
  return NoRoom(Cat("no room for another section header: ", why, "; the resources cannot be placed"));
}

// No data directory but `own` points into the section: resizing or moving
// it cannot break anything else the loader looks up by address.
bool HoldsOnly(const PeHeaders &headers, std::size_t sectionIndex, std::size_t own) {
  const Section &s = headers.sections[sectionIndex];
  for (std::size_t i = 0; i < headers.directories.size(); ++i) {
    const DataDirectory d = headers.directories[i];
    if (i == own || i == kDirSecurity || (d.rva == 0 && d.size == 0)) continue;
    if (Overlaps(d.rva, std::max<std::uint32_t>(d.size, 1), s.virtualAddress, s.VirtualExtent())) return false;
  }
  return true;
}

// Every section but the excluded ones lies before `s` in the file and in
// memory.
bool OthersBefore(const PeHeaders &headers, const Section &s, std::size_t exclude1, std::size_t exclude2) {
  for (std::size_t i = 0; i < headers.sections.size(); ++i) {
    if (i == exclude1 || i == exclude2) continue;
    const Section &o = headers.sections[i];
    // Without raw data of its own, `s` gets its data after all the others.
    if (o.sizeOfRawData != 0 && s.sizeOfRawData != 0 && o.RawEnd() > s.pointerToRawData) return false;
    if (std::uint64_t{o.virtualAddress} + o.VirtualExtent() > s.virtualAddress) return false;
  }
  return true;
}

// Room for one more section header after the table. The headers may grow
// up to the first section's address; where they would run into the first
// section's raw data, all raw data moves down the file by whole
// FileAlignment units. Room in the file is measured to the first raw data,
// not to SizeOfHeaders: a packer's headers reach past it, and only what
// the new table needs decides whether the data moves.
Status PlanHeaderRoom(const ByteSource &image, const PeHeaders &headers, LayoutPlan &plan) {
  const std::uint64_t tableEnd = headers.SectionTableEnd();
  const std::uint64_t needed = tableEnd + kSectionHeaderSize;
  const std::uint64_t grownEnd = AlignUp(needed, headers.fileAlignment);
  const std::uint64_t headersEnd = std::max<std::uint64_t>(headers.sizeOfHeaders, grownEnd);
  std::uint64_t firstAddress = kMaxFileSize;
  for (const auto &s : headers.sections)
    firstAddress = std::min<std::uint64_t>(firstAddress, s.virtualAddress);
  if (headersEnd > firstAddress)
    return NoRoomForHeader(
        Cat("the first section is mapped at ", Hex(firstAddress), ", the headers would end at ", Hex(headersEnd)));
  const std::uint64_t firstRaw = headers.FirstRawData();
  plan.sizeOfHeaders = static_cast<std::uint32_t>(headersEnd);
  plan.rawShift =
      grownEnd > firstRaw ? static_cast<std::uint32_t>(AlignUp(grownEnd - firstRaw, headers.fileAlignment)) : 0;
  // Bound imports often sit right after the table; they only speed up
  // loading, so they give way.
  const DataDirectory bound = headers.Directory(kDirBoundImport);
  if (bound.size != 0 && Overlaps(bound.rva, bound.size, tableEnd, kSectionHeaderSize)) {
    plan.dropBoundImports = true;
    return Ok();
  }
  const std::uint64_t usedEnd = std::min(needed, firstRaw);
  if (usedEnd <= tableEnd) return Ok();
  const auto after = image.Bytes(tableEnd, usedEnd - tableEnd);
  if (!after || std::any_of(after->begin(), after->end(), [](std::uint8_t b) { return b != 0; }))
    return NoRoomForHeader(Cat("the bytes after the section table at ", Hex(tableEnd), " are in use"));
  return Ok();
}

// Zeros written into the file to reach an address must not outgrow what
// the module really holds.
Status CheckPadding(const ByteSource &image, std::uint64_t from, std::uint64_t to) {
  if (to < from)
    return NoRoom(Cat("the resources would be placed at ", Hex(to), ", before the data ending at ", Hex(from)));
  if (to - from > image.Size())
    return NoRoom(Cat("placing the resources at ", Hex(to), " would fill ", Hex(to - from),
                      " bytes with zeros, more than the module holds"));
  return Ok();
}

Result<LayoutPlan> PlanNewSection(const ByteSource &image, const PeHeaders &headers) {
  if (headers.sections.size() + 1 > 0xFFFF) return NoRoom("no room for another section: the module has too many");
  LayoutPlan plan;
  plan.placement = Placement::NewSection;
  QM_RETURN_IF_ERROR(PlanHeaderRoom(image, headers, plan));
  const std::uint64_t tailStart = headers.ImageFileEnd() + plan.rawShift;
  std::uint64_t rva = std::max(headers.ComputedSizeOfImage(), AlignUp(plan.sizeOfHeaders, headers.sectionAlignment));
  // An image mapped as it lies keeps being so; any other, a firmware
  // image with a low alignment too, gets address and file offset each on
  // its own.
  if (headers.FileMapped()) {
    rva = std::max(rva, AlignUp(tailStart, headers.fileAlignment));
    plan.dataOffset = rva;
  } else {
    rva = std::max(rva, AlignUp(headers.sizeOfImage, headers.sectionAlignment));
    plan.dataOffset = AlignUp(tailStart, headers.fileAlignment);
  }
  if (rva >= 0x80000000u)
    return NoRoom(Cat("no room for another section: the image already spans ", Hex(rva), " bytes"));
  QM_RETURN_IF_ERROR(CheckPadding(image, tailStart, plan.dataOffset));
  plan.sectionRva = static_cast<std::uint32_t>(rva);
  return plan;
}

// The resource section is the last one: it grows or shrinks where it is.
Result<LayoutPlan> PlanInPlace(const ByteSource &image, const PeHeaders &headers, std::size_t index) {
  const Section &r = headers.sections[index];
  LayoutPlan plan{Placement::InPlace, index, r.virtualAddress};
  if (r.sizeOfRawData != 0) {
    plan.dataOffset = r.pointerToRawData;
    return plan;
  }
  // No raw data yet: its pointer means nothing; the data goes after
  // everything else.
  const std::uint64_t end = headers.ImageFileEnd();
  plan.dataOffset = headers.FileMapped() ? r.virtualAddress : AlignUp(end, headers.fileAlignment);
  QM_RETURN_IF_ERROR(CheckPadding(image, end, plan.dataOffset));
  return plan;
}

// Only the relocation section follows the resources, and nothing else
// points into it: it moves after them.
bool CanMoveRelocations(const PeHeaders &headers, std::size_t index) {
  const std::size_t count = headers.sections.size();
  const Section &r = headers.sections[index];
  if (index + 2 != count || r.sizeOfRawData == 0) return false;
  const Section &last = headers.sections[count - 1];
  const DataDirectory relocations = headers.Directory(kDirBaseReloc);
  return relocations.size != 0 && relocations.rva == last.virtualAddress &&
         HoldsOnly(headers, count - 1, kDirBaseReloc) && OthersBefore(headers, r, index, count - 1) &&
         OthersBefore(headers, last, index, count - 1) && last.virtualAddress > r.virtualAddress &&
         (last.sizeOfRawData == 0 || last.pointerToRawData >= r.RawEnd());
}

// The resources and, when it moves after them, the relocation section must
// end below 2 GiB.
Status CheckImageSpan(const PeHeaders &headers, const LayoutPlan &plan, std::uint64_t contentSize) {
  std::uint64_t end =
      AlignUp(std::uint64_t{plan.sectionRva} + std::max<std::uint64_t>(contentSize, 1), headers.sectionAlignment);
  if (plan.placement == Placement::MoveRelocation) end += headers.sections.back().VirtualExtent();
  if (end > 0x80000000u)
    return NoRoom(Cat("no room for ", contentSize, " bytes of resources at ", Hex(plan.sectionRva),
                      ": the image would span ", Hex(end), " bytes"));
  return Ok();
}

Result<LayoutPlan> PlaceAnywhere(const ByteSource &image, const PeHeaders &headers) {
  const DataDirectory resources = headers.Directory(kDirResource);
  if (headers.directories.size() <= kDirResource)
    return NoRoom(Cat("the optional header has ", headers.directories.size(), " data directories, none for resources"));
  // No resources yet lands here too: every section lies above the headers.
  const auto index = headers.SectionOfRva(resources.rva);
  if (!index || headers.sections[*index].virtualAddress != resources.rva || !HoldsOnly(headers, *index, kDirResource))
    return PlanNewSection(image, headers);
  const Section &r = headers.sections[*index];
  // Data that a packer's SizeOfHeaders also maps as headers is not
  // rewritten where it lies: the file would end before the headers do.
  if (r.sizeOfRawData != 0 && r.pointerToRawData < headers.sizeOfHeaders) return PlanNewSection(image, headers);
  if (*index + 1 == headers.sections.size() && OthersBefore(headers, r, *index, *index))
    return PlanInPlace(image, headers, *index);
  if (CanMoveRelocations(headers, *index))
    return LayoutPlan{Placement::MoveRelocation, *index, r.virtualAddress, r.pointerToRawData};
  return PlanNewSection(image, headers);
}

} // namespace

Result<LayoutPlan> PlanLayout(const ByteSource &image, const PeHeaders &headers) {
  QM_RETURN_IF_ERROR(CheckRewritable(headers));
  QM_UNWRAP_OR_RETURN(plan, PlaceAnywhere(image, headers));
  // Even no resources at all must fit where they go.
  QM_RETURN_IF_ERROR(CheckImageSpan(headers, plan, 0));
  return plan;
}

Result<NewFile> ComposeModule(const ByteSource &image, const PeHeaders &headers, const LayoutPlan &plan,
                              std::span<const ResourceItem> items) {
  QM_UNWRAP_OR_RETURN(section, LayResourceSection(items, plan.sectionRva, plan.dataOffset));
  // Where the section goes did not depend on its size; whether it fits
  // there does.
  QM_RETURN_IF_ERROR(CheckImageSpan(headers, plan, section.Size()));
  return ApplyLayout(image, headers, plan, section);
}

} // namespace qm::pe
