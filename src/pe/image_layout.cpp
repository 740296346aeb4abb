#include "pe/image_layout.h"

#include <algorithm>
#include <optional>

#include "base/byte_reader.h"
#include "pe/checksum.h"
#include "pe/text.h"

namespace qm::pe {
namespace {

constexpr std::size_t kDirBoundImport = 11;
constexpr std::size_t kDebugEntrySize = 28;

std::uint64_t AlignUp(std::uint64_t v, std::uint32_t alignment) { return (v + alignment - 1) / alignment * alignment; }

bool Overlaps(std::uint64_t aStart, std::uint64_t aLength, std::uint64_t bStart, std::uint64_t bLength) {
  return aStart < bStart + bLength && bStart < aStart + aLength;
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
    if (o.sizeOfRawData != 0 && o.RawEnd() > s.pointerToRawData) return false;
    if (std::uint64_t{o.virtualAddress} + o.VirtualExtent() > s.virtualAddress) return false;
  }
  return true;
}

struct HeaderRoom {
  std::uint32_t sizeOfHeaders = 0;
  bool dropBoundImports = false;
};

// Room for one more section header after the table, before any section's
// data in the file or in memory.
Result<HeaderRoom> RoomForSectionHeader(std::span<const std::uint8_t> image, const PeHeaders &headers) {
  const std::uint64_t tableEnd = headers.SectionTableOffset() + kSectionHeaderSize * headers.sections.size();
  const std::uint64_t needed = tableEnd + kSectionHeaderSize;
  std::uint64_t limit = 0xFFFFFFFFu;
  for (const auto &s : headers.sections) {
    if (s.sizeOfRawData != 0) limit = std::min<std::uint64_t>(limit, s.pointerToRawData);
    limit = std::min<std::uint64_t>(limit, s.virtualAddress);
  }
  HeaderRoom room;
  room.sizeOfHeaders = static_cast<std::uint32_t>(
      std::max<std::uint64_t>(headers.sizeOfHeaders, AlignUp(needed, headers.fileAlignment)));
  const auto noRoom = [&](const std::string &why) {
    return Fail(Cat("no room for another section header: ", why, "; the resources cannot be placed"));
  };
  if (room.sizeOfHeaders > limit || needed > image.size())
    return noRoom(Cat("the first section starts at ", Hex(limit), ", the header would end at ", Hex(needed)));
  // Bound imports often sit right after the table; they only speed up
  // loading, so they give way.
  const DataDirectory bound = headers.Directory(kDirBoundImport);
  if (bound.size != 0 && Overlaps(bound.rva, bound.size, tableEnd, kSectionHeaderSize)) {
    room.dropBoundImports = true;
  } else if (!std::all_of(image.begin() + static_cast<std::ptrdiff_t>(tableEnd),
                          image.begin() + static_cast<std::ptrdiff_t>(needed), [](std::uint8_t b) { return b == 0; })) {
    return noRoom(Cat("the bytes after the section table at ", Hex(tableEnd), " are in use"));
  }
  return room;
}

void WriteSectionHeader(std::vector<std::uint8_t> &out, std::size_t at, const Section &s) {
  std::copy(s.name.begin(), s.name.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
  PutU32(out, at + 8, s.virtualSize);
  PutU32(out, at + 12, s.virtualAddress);
  PutU32(out, at + 16, s.sizeOfRawData);
  PutU32(out, at + 20, s.pointerToRawData);
  PutU32(out, at + 24, s.pointerToRelocations);
  PutU32(out, at + 28, s.pointerToLinenumbers);
  PutU16(out, at + 32, s.numberOfRelocations);
  PutU16(out, at + 34, s.numberOfLinenumbers);
  PutU32(out, at + 36, s.characteristics);
}

// The new file is assembled from pieces of the old one; a file offset into
// a copied piece moves with it.
class Assembler {
public:
  explicit Assembler(std::span<const std::uint8_t> image) : image_(image) { out_.reserve(image.size()); }

  void Copy(std::uint64_t from, std::uint64_t length) {
    if (length == 0) return;
    pieces_.push_back({from, length, out_.size()});
    out_.insert(out_.end(), image_.begin() + static_cast<std::ptrdiff_t>(from),
                image_.begin() + static_cast<std::ptrdiff_t>(from + length));
  }
  void Append(std::span<const std::uint8_t> bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }
  void PadTo(std::uint64_t size) {
    if (size > out_.size()) out_.resize(static_cast<std::size_t>(size), 0);
  }
  std::uint64_t Size() const { return out_.size(); }

  // Where [offset, offset + length) of the old file is now, if it was kept
  // whole.
  std::optional<std::uint64_t> Map(std::uint64_t offset, std::uint64_t length = 0) const {
    for (const auto &p : pieces_) {
      if (offset >= p.from && offset - p.from < p.length && length <= p.length - (offset - p.from))
        return p.to + (offset - p.from);
    }
    return std::nullopt;
  }
  std::uint32_t MapOrKeep(std::uint32_t offset) const {
    if (offset == 0) return 0;
    const auto moved = Map(offset);
    return moved ? static_cast<std::uint32_t>(*moved) : offset;
  }
  std::vector<std::uint8_t> &Out() { return out_; }

private:
  struct Piece {
    std::uint64_t from, length, to;
  };
  std::span<const std::uint8_t> image_;
  std::vector<std::uint8_t> out_;
  std::vector<Piece> pieces_;
};

} // namespace

Result<LayoutPlan> PlanLayout(std::span<const std::uint8_t> image, const PeHeaders &headers) {
  const DataDirectory resources = headers.Directory(kDirResource);
  const std::size_t count = headers.sections.size();
  if (headers.directories.size() <= kDirResource)
    return Fail(Cat("the optional header has ", headers.directories.size(), " data directories, none for resources"));
  if (resources.rva != 0 || resources.size != 0) {
    const auto index = headers.SectionOfRva(resources.rva);
    if (index && headers.sections[*index].virtualAddress == resources.rva && HoldsOnly(headers, *index, kDirResource)) {
      const Section &r = headers.sections[*index];
      if (*index + 1 == count && OthersBefore(headers, r, *index, *index))
        return LayoutPlan{Placement::InPlace, *index, r.virtualAddress};
      if (*index + 2 == count) {
        const Section &last = headers.sections[count - 1];
        const DataDirectory relocations = headers.Directory(kDirBaseReloc);
        if (relocations.size != 0 && relocations.rva == last.virtualAddress &&
            HoldsOnly(headers, count - 1, kDirBaseReloc) && OthersBefore(headers, r, *index, count - 1) &&
            OthersBefore(headers, last, *index, count - 1) && last.virtualAddress > r.virtualAddress &&
            (last.sizeOfRawData == 0 || last.pointerToRawData >= r.RawEnd()))
          return LayoutPlan{Placement::MoveRelocation, *index, r.virtualAddress};
      }
    }
  }
  if (count + 1 > 0xFFFF) return Fail("no room for another section: the module has too many");
  if (auto room = RoomForSectionHeader(image, headers); !room) return Fail(room.error());
  const std::uint64_t rva =
      std::max(headers.ComputedSizeOfImage(), AlignUp(headers.sizeOfImage, headers.sectionAlignment));
  if (rva >= 0x80000000u) return Fail(Cat("no room for another section: the image already spans ", Hex(rva), " bytes"));
  return LayoutPlan{Placement::NewSection, 0, static_cast<std::uint32_t>(rva)};
}

Result<std::vector<std::uint8_t>> ApplyLayout(std::span<const std::uint8_t> image, const PeHeaders &headers,
                                              const LayoutPlan &plan, std::span<const std::uint8_t> content) {
  const std::uint32_t fileAlignment = headers.fileAlignment;
  const std::uint64_t rawSize = AlignUp(content.size(), fileAlignment);
  const std::uint64_t oldEnd = std::min<std::uint64_t>(headers.ImageFileEnd(), image.size());
  PeHeaders next = headers;
  Assembler file(image);
  std::optional<HeaderRoom> room;
  std::int64_t initializedDelta = 0;

  switch (plan.placement) {
  case Placement::InPlace:
  case Placement::MoveRelocation: {
    const Section &r = headers.sections[plan.resourceSection];
    file.Copy(0, r.pointerToRawData);
    file.Append(content);
    file.PadTo(r.pointerToRawData + rawSize);
    Section &nr = next.sections[plan.resourceSection];
    nr.virtualSize = static_cast<std::uint32_t>(content.size());
    nr.sizeOfRawData = static_cast<std::uint32_t>(rawSize);
    if (r.characteristics & kScnInitializedData)
      initializedDelta = static_cast<std::int64_t>(rawSize) - static_cast<std::int64_t>(r.sizeOfRawData);
    if (plan.placement == Placement::MoveRelocation) {
      const Section &last = headers.sections.back();
      Section &nl = next.sections.back();
      nl.virtualAddress = static_cast<std::uint32_t>(
          AlignUp(std::uint64_t{nr.virtualAddress} + nr.VirtualExtent(), headers.sectionAlignment));
      file.PadTo(AlignUp(file.Size(), fileAlignment));
      if (last.sizeOfRawData != 0) {
        nl.pointerToRawData = static_cast<std::uint32_t>(file.Size());
        file.Copy(last.pointerToRawData, last.sizeOfRawData);
        file.PadTo(AlignUp(file.Size(), fileAlignment));
      }
      next.directories[kDirBaseReloc].rva =
          headers.directories[kDirBaseReloc].rva - last.virtualAddress + nl.virtualAddress;
    }
    break;
  }
  case Placement::NewSection: {
    auto r = RoomForSectionHeader(image, headers);
    if (!r) return Fail(r.error());
    room = *r;
    file.Copy(0, oldEnd);
    file.PadTo(AlignUp(oldEnd, fileAlignment));
    Section s;
    const char name[] = ".rsrc";
    std::copy(name, name + 5, s.name.begin());
    s.virtualSize = static_cast<std::uint32_t>(content.size());
    s.virtualAddress = plan.sectionRva;
    s.sizeOfRawData = static_cast<std::uint32_t>(rawSize);
    s.pointerToRawData = static_cast<std::uint32_t>(file.Size());
    s.characteristics = kScnInitializedData | kScnMemRead;
    file.Append(content);
    file.PadTo(s.pointerToRawData + rawSize);
    next.sections.push_back(s);
    initializedDelta = static_cast<std::int64_t>(rawSize);
    break;
  }
  }

  // The tail: everything after the last section's data moves with the
  // image, except a certificate, which the change invalidates.
  const DataDirectory certificate = headers.Directory(kDirSecurity);
  const std::uint64_t certStart = certificate.rva, certEnd = std::uint64_t{certificate.rva} + certificate.size;
  if (certificate.size != 0 && certStart >= oldEnd && certEnd <= image.size()) {
    file.Copy(oldEnd, certStart - oldEnd);
    file.Copy(certEnd, image.size() - certEnd);
  } else {
    file.Copy(oldEnd, image.size() - oldEnd);
  }
  if (file.Size() > 0xFFFFFFFFu) return Fail("the new module would be larger than 4 GiB");

  // Offsets into the file that moved with their bytes.
  next.pointerToSymbolTable = file.MapOrKeep(headers.pointerToSymbolTable);
  for (std::size_t i = 0; i < next.sections.size(); ++i) {
    Section &s = next.sections[i];
    s.pointerToRelocations = file.MapOrKeep(s.pointerToRelocations);
    s.pointerToLinenumbers = file.MapOrKeep(s.pointerToLinenumbers);
  }
  std::vector<std::uint8_t> &out = file.Out();
  const DataDirectory debug = headers.Directory(kDirDebug);
  if (debug.size != 0) {
    const auto oldAt = headers.RvaToOffset(debug.rva, debug.size);
    const auto newAt = oldAt ? file.Map(*oldAt, debug.size) : std::nullopt;
    if (newAt) {
      const ByteReader entries(image.subspan(static_cast<std::size_t>(*oldAt), debug.size));
      for (std::size_t i = 0; i < debug.size / kDebugEntrySize; ++i) {
        const std::size_t field = i * kDebugEntrySize + 24;
        PutU32(out, *newAt + field, file.MapOrKeep(*entries.u32(field)));
      }
    }
  }

  next.directories[kDirResource] = {plan.sectionRva, static_cast<std::uint32_t>(content.size())};
  if (kDirSecurity < next.directories.size()) next.directories[kDirSecurity] = {};
  if (room && room->dropBoundImports) next.directories[kDirBoundImport] = {};
  if (room) next.sizeOfHeaders = room->sizeOfHeaders;
  next.sizeOfImage = static_cast<std::uint32_t>(next.ComputedSizeOfImage());
  next.sizeOfInitializedData = static_cast<std::uint32_t>(
      std::clamp<std::int64_t>(std::int64_t{headers.sizeOfInitializedData} + initializedDelta, 0, 0xFFFFFFFF));

  // Write the patched headers back.
  PutU16(out, next.CoffOffset() + 2, static_cast<std::uint16_t>(next.sections.size()));
  PutU32(out, next.CoffOffset() + 8, next.pointerToSymbolTable);
  PutU32(out, next.OptionalOffset() + 8, next.sizeOfInitializedData);
  PutU32(out, next.OptionalOffset() + 56, next.sizeOfImage);
  PutU32(out, next.OptionalOffset() + 60, next.sizeOfHeaders);
  for (std::size_t i = 0; i < next.directories.size(); ++i) {
    PutU32(out, next.DirectoryOffset(i), next.directories[i].rva);
    PutU32(out, next.DirectoryOffset(i) + 4, next.directories[i].size);
  }
  for (std::size_t i = 0; i < next.sections.size(); ++i) {
    WriteSectionHeader(out, next.SectionTableOffset() + kSectionHeaderSize * i, next.sections[i]);
  }
  PutU32(out, next.CheckSumOffset(), ComputeChecksum(out, next.CheckSumOffset()));
  return std::move(out);
}

} // namespace qm::pe
