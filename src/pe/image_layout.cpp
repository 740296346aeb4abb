#include "pe/image_layout.h"

#include <algorithm>
#include <optional>

#include "base/byte_reader.h"
#include "base/shown_text.h"
#include "pe/checksum.h"
#include "pe/nsis_installer.h"
#include "pe/text.h"

namespace qm::pe {
namespace {

constexpr std::size_t kDirBoundImport = 11;
constexpr std::size_t kDebugEntrySize = 28;
constexpr std::uint64_t kMaxFileSize = 0xFFFFFFFFu;

std::uint64_t AlignUp(std::uint64_t v, std::uint64_t alignment) { return (v + alignment - 1) / alignment * alignment; }

bool Overlaps(std::uint64_t aStart, std::uint64_t aLength, std::uint64_t bStart, std::uint64_t bLength) {
  return aStart < bStart + bLength && bStart < aStart + aLength;
}

std::string SectionWhere(const PeHeaders &headers, std::size_t i) {
  return Cat("section ", i, " ", Quoted(headers.sections[i].Name()));
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

// Where the first section's raw data begins: the headers end there.
std::uint64_t FirstRawData(const PeHeaders &headers) {
  std::uint64_t first = headers.ImageFileEnd();
  for (const auto &s : headers.sections) {
    if (s.sizeOfRawData != 0) first = std::min<std::uint64_t>(first, s.pointerToRawData);
  }
  return first;
}

Error NoRoom(const std::string &why) {
  return Fail(Cat("no room for another section header: ", why, "; the resources cannot be placed"));
}

// Room for one more section header after the table. The headers may grow
// up to the first section's address; where they would run into the first
// section's raw data, all raw data moves down the file by whole
// FileAlignment units. Room in the file is measured to the first raw data,
// not to SizeOfHeaders: a packer's headers reach past it, and only what
// the new table needs decides whether the data moves.
Status PlanHeaderRoom(const ByteSource &image, const PeHeaders &headers, LayoutPlan &plan) {
  const std::uint64_t tableEnd = headers.SectionTableOffset() + kSectionHeaderSize * headers.sections.size();
  const std::uint64_t needed = tableEnd + kSectionHeaderSize;
  const std::uint64_t grownEnd = AlignUp(needed, headers.fileAlignment);
  const std::uint64_t headersEnd = std::max<std::uint64_t>(headers.sizeOfHeaders, grownEnd);
  std::uint64_t firstAddress = kMaxFileSize;
  for (const auto &s : headers.sections)
    firstAddress = std::min<std::uint64_t>(firstAddress, s.virtualAddress);
  if (headersEnd > firstAddress)
    return NoRoom(Cat("the first section is mapped at ", Hex(firstAddress), ", the headers would end at ",
                      Hex(headersEnd)));
  const std::uint64_t firstRaw = FirstRawData(headers);
  plan.sizeOfHeaders = static_cast<std::uint32_t>(headersEnd);
  plan.rawShift = grownEnd > firstRaw ? static_cast<std::uint32_t>(AlignUp(grownEnd - firstRaw, headers.fileAlignment)) : 0;
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
    return NoRoom(Cat("the bytes after the section table at ", Hex(tableEnd), " are in use"));
  return Ok();
}

// The new file is assembled from pieces of the old one; a file offset into
// a copied piece moves with it. Every write is checked against the bytes
// assembled so far and the output against a size that follows the real
// content: what would go out of bounds is an error, never a stray write.
class Assembler {
public:
  Assembler(const ByteSource &image, std::uint64_t limit) : image_(image), limit_(limit) {}

  void Copy(std::uint64_t from, std::uint64_t length) {
    if (length == 0 || failed_) return;
    if (from > image_.Size() || length > image_.Size() - from)
      return Failed(Cat("copying ", Hex(length), " bytes from ", Hex(from), " runs past the module's end"));
    if (Grows(length)) file_.Copy(from, length);
  }
  void Append(const NewFile &content) {
    if (!failed_ && Grows(content.Size())) file_.Append(content);
  }
  void PadTo(std::uint64_t size) {
    if (failed_ || size <= file_.Size() || !Grows(size - file_.Size())) return;
    file_.Zeros(size - file_.Size());
  }
  void Put16(std::uint64_t at, std::uint16_t v) {
    const std::uint8_t b[2] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
    PutBytes(at, b);
  }
  void Put32(std::uint64_t at, std::uint32_t v) {
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                               static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    PutBytes(at, b);
  }
  void PutBytes(std::uint64_t at, std::span<const std::uint8_t> bytes) {
    if (Fits(at, bytes.size())) file_.Patch(at, bytes);
  }
  std::uint64_t Size() const { return file_.Size(); }
  const NewFile &Pieces() const { return file_; }

  // Where [offset, offset + length) of the old file is now, if it was kept
  // whole.
  std::optional<std::uint64_t> Map(std::uint64_t offset, std::uint64_t length = 0) const {
    return file_.Map(offset, length);
  }
  std::uint32_t MapOrKeep(std::uint32_t offset) const {
    if (offset == 0) return 0;
    const auto moved = Map(offset);
    return moved ? static_cast<std::uint32_t>(*moved) : offset;
  }

  // The platform's checksum stored at `at`, summed over the finished file.
  void PutChecksum(std::uint64_t at) {
    if (failed_) return;
    ChecksumStream sum(at);
    const Status read = file_.ForEachChunk(image_, [&](std::span<const std::uint8_t> chunk) {
      sum.Add(chunk);
      return Ok();
    });
    if (!read) return Failed(read.error());
    Put32(at, sum.ToStore());
  }

  Result<NewFile> Finish() {
    if (failed_) return Fail("the new module could not be assembled: " + error_);
    return std::move(file_);
  }

private:
  bool Grows(std::uint64_t by) {
    if (by > limit_ || file_.Size() > limit_ - by) {
      Failed(Cat("the new module would exceed ", Hex(limit_), " bytes"));
      return false;
    }
    return true;
  }
  bool Fits(std::uint64_t at, std::uint64_t length) {
    if (failed_) return false;
    if (at > file_.Size() || length > file_.Size() - at) {
      Failed(Cat("a write of ", length, " bytes at ", Hex(at), " falls outside the ", Hex(file_.Size()), " bytes written"));
      return false;
    }
    return true;
  }
  void Failed(std::string why) {
    if (failed_) return;
    failed_ = true;
    error_ = std::move(why);
  }

  const ByteSource &image_;
  std::uint64_t limit_;
  NewFile file_;
  bool failed_ = false;
  std::string error_;
};

constexpr std::uint64_t kRelocationRecordSize = 10;
constexpr std::uint64_t kLineNumberRecordSize = 6;

// A section's relocation or line-number records follow the bytes they lie
// in. Where those bytes were not kept (they were resource data that was
// rebuilt), the records are gone: pointer and count are cleared rather than
// left leading to whatever now stands there.
void MoveRecords(const Assembler &file, std::uint32_t &pointer, std::uint16_t &count, std::uint64_t recordSize) {
  if (pointer == 0) return;
  if (const auto moved = file.Map(pointer, recordSize * count)) {
    pointer = static_cast<std::uint32_t>(*moved);
    return;
  }
  pointer = 0;
  count = 0;
}

void WriteSectionHeader(Assembler &file, std::uint64_t at, const Section &s) {
  file.PutBytes(at, s.name);
  file.Put32(at + 8, s.virtualSize);
  file.Put32(at + 12, s.virtualAddress);
  file.Put32(at + 16, s.sizeOfRawData);
  file.Put32(at + 20, s.pointerToRawData);
  file.Put32(at + 24, s.pointerToRelocations);
  file.Put32(at + 28, s.pointerToLinenumbers);
  file.Put16(at + 32, s.numberOfRelocations);
  file.Put16(at + 34, s.numberOfLinenumbers);
  file.Put32(at + 36, s.characteristics);
}

// Zeros written into the file to reach an address must not outgrow what
// the module really holds.
Status CheckPadding(const ByteSource &image, std::uint64_t from, std::uint64_t to) {
  if (to < from)
    return Fail(Cat("the resources would be placed at ", Hex(to), ", before the data ending at ", Hex(from)));
  if (to - from > image.Size())
    return Fail(Cat("placing the resources at ", Hex(to), " would fill ", Hex(to - from),
                    " bytes with zeros, more than the module holds"));
  return Ok();
}

Result<LayoutPlan> PlanNewSection(const ByteSource &image, const PeHeaders &headers) {
  if (headers.sections.size() + 1 > 0xFFFF) return Fail("no room for another section: the module has too many");
  LayoutPlan plan;
  plan.placement = Placement::NewSection;
  if (auto st = PlanHeaderRoom(image, headers, plan); !st) return Fail(st.error());
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
  if (rva >= 0x80000000u) return Fail(Cat("no room for another section: the image already spans ", Hex(rva), " bytes"));
  if (auto st = CheckPadding(image, tailStart, plan.dataOffset); !st) return Fail(st.error());
  plan.sectionRva = static_cast<std::uint32_t>(rva);
  return plan;
}

} // namespace

namespace {

Result<LayoutPlan> PlaceAnywhere(const ByteSource &image, const PeHeaders &headers) {
  const DataDirectory resources = headers.Directory(kDirResource);
  const std::size_t count = headers.sections.size();
  if (headers.directories.size() <= kDirResource)
    return Fail(Cat("the optional header has ", headers.directories.size(), " data directories, none for resources"));
  if (resources.rva != 0 || resources.size != 0) {
    const auto index = headers.SectionOfRva(resources.rva);
    // Data that a packer's SizeOfHeaders also maps as headers is not
    // rewritten where it lies: the file would end before the headers do.
    const auto underHeaders = [&](const Section &s) {
      return s.sizeOfRawData != 0 && s.pointerToRawData < headers.sizeOfHeaders;
    };
    if (index && headers.sections[*index].virtualAddress == resources.rva && HoldsOnly(headers, *index, kDirResource) &&
        !underHeaders(headers.sections[*index])) {
      const Section &r = headers.sections[*index];
      if (*index + 1 == count && OthersBefore(headers, r, *index, *index)) {
        LayoutPlan plan{Placement::InPlace, *index, r.virtualAddress};
        if (r.sizeOfRawData != 0) {
          plan.dataOffset = r.pointerToRawData;
        } else {
          // No raw data yet: its pointer means nothing; the data goes
          // after everything else.
          const std::uint64_t end = headers.ImageFileEnd();
          plan.dataOffset = headers.FileMapped() ? r.virtualAddress : AlignUp(end, headers.fileAlignment);
          if (auto st = CheckPadding(image, end, plan.dataOffset); !st) return Fail(st.error());
        }
        return plan;
      }
      if (*index + 2 == count && r.sizeOfRawData != 0) {
        const Section &last = headers.sections[count - 1];
        const DataDirectory relocations = headers.Directory(kDirBaseReloc);
        if (relocations.size != 0 && relocations.rva == last.virtualAddress &&
            HoldsOnly(headers, count - 1, kDirBaseReloc) && OthersBefore(headers, r, *index, count - 1) &&
            OthersBefore(headers, last, *index, count - 1) && last.virtualAddress > r.virtualAddress &&
            (last.sizeOfRawData == 0 || last.pointerToRawData >= r.RawEnd()))
          return LayoutPlan{Placement::MoveRelocation, *index, r.virtualAddress, r.pointerToRawData};
      }
    }
  }
  return PlanNewSection(image, headers);
}

// The resources and, when it moves after them, the relocation section must
// end below 2 GiB.
Status CheckImageSpan(const PeHeaders &headers, const LayoutPlan &plan, std::uint64_t contentSize) {
  std::uint64_t end = AlignUp(std::uint64_t{plan.sectionRva} + std::max<std::uint64_t>(contentSize, 1),
                              headers.sectionAlignment);
  if (plan.placement == Placement::MoveRelocation) end += headers.sections.back().VirtualExtent();
  if (end > 0x80000000u)
    return Fail(Cat("no room for ", contentSize, " bytes of resources at ", Hex(plan.sectionRva),
                    ": the image would span ", Hex(end), " bytes"));
  return Ok();
}

} // namespace

Result<LayoutPlan> PlanLayout(const ByteSource &image, const PeHeaders &headers, std::uint64_t contentSize) {
  auto plan = PlaceAnywhere(image, headers);
  if (!plan) return Fail(plan.error());
  if (auto st = CheckImageSpan(headers, *plan, contentSize); !st) return Fail(st.error());
  return plan;
}

Result<NewFile> ApplyLayout(const ByteSource &image, const PeHeaders &headers, const LayoutPlan &plan,
                            const NewFile &content) {
  const std::uint32_t fileAlignment = headers.fileAlignment;
  const std::uint64_t rawSize = AlignUp(content.Size(), fileAlignment);
  const std::uint64_t oldEnd = headers.ImageFileEnd();
  const std::uint64_t imageSize = image.Size();
  if (oldEnd > imageSize) return Fail("the module is shorter than its sections");
  // The new file holds the old one, the new data, and zeros bounded by the
  // planning: the headers' growth and alignment padding.
  const std::uint64_t limit =
      std::min<std::uint64_t>(kMaxFileSize, 2 * imageSize + rawSize + 4 * std::uint64_t{0x10000});
  PeHeaders next = headers;
  Assembler file(image, limit);
  std::int64_t initializedDelta = 0;
  std::vector<bool> placed(headers.sections.size(), false); // raw pointers set here, not mapped

  switch (plan.placement) {
  case Placement::InPlace:
  case Placement::MoveRelocation: {
    const Section &r = headers.sections[plan.resourceSection];
    file.Copy(0, std::min(plan.dataOffset, oldEnd));
    file.PadTo(plan.dataOffset);
    file.Append(content);
    file.PadTo(plan.dataOffset + rawSize);
    Section &nr = next.sections[plan.resourceSection];
    nr.virtualSize = static_cast<std::uint32_t>(content.Size());
    nr.sizeOfRawData = static_cast<std::uint32_t>(rawSize);
    nr.pointerToRawData = static_cast<std::uint32_t>(plan.dataOffset);
    placed[plan.resourceSection] = true;
    if (r.characteristics & kScnInitializedData)
      initializedDelta = static_cast<std::int64_t>(rawSize) - static_cast<std::int64_t>(r.sizeOfRawData);
    if (plan.placement == Placement::MoveRelocation) {
      const Section &last = headers.sections.back();
      Section &nl = next.sections.back();
      placed.back() = true;
      nl.virtualAddress = static_cast<std::uint32_t>(
          AlignUp(std::uint64_t{nr.virtualAddress} + nr.VirtualExtent(), headers.sectionAlignment));
      file.PadTo(AlignUp(file.Size(), fileAlignment));
      // The tail follows its raw data directly, as before: data appended
      // to the image must not move away from the image's end.
      if (last.sizeOfRawData != 0) {
        nl.pointerToRawData = static_cast<std::uint32_t>(file.Size());
        file.Copy(last.pointerToRawData, last.sizeOfRawData);
      }
      next.directories[kDirBaseReloc].rva =
          headers.directories[kDirBaseReloc].rva - last.virtualAddress + nl.virtualAddress;
    }
    break;
  }
  case Placement::NewSection: {
    const std::uint64_t firstRaw = FirstRawData(headers);
    if (plan.rawShift == 0) {
      file.Copy(0, oldEnd);
    } else {
      file.Copy(0, firstRaw);
      file.PadTo(firstRaw + plan.rawShift);
      file.Copy(firstRaw, oldEnd - firstRaw);
    }
    file.PadTo(plan.dataOffset);
    Section s;
    const char name[] = ".rsrc";
    std::copy(name, name + 5, s.name.begin());
    s.virtualSize = static_cast<std::uint32_t>(content.Size());
    s.virtualAddress = plan.sectionRva;
    s.sizeOfRawData = static_cast<std::uint32_t>(rawSize);
    s.pointerToRawData = static_cast<std::uint32_t>(plan.dataOffset);
    s.characteristics = kScnInitializedData | kScnMemRead;
    file.Append(content);
    file.PadTo(plan.dataOffset + rawSize);
    next.sections.push_back(s);
    placed.push_back(true);
    next.sizeOfHeaders = plan.sizeOfHeaders;
    if (plan.dropBoundImports) next.directories[kDirBoundImport] = {};
    initializedDelta = static_cast<std::int64_t>(rawSize);
    break;
  }
  }

  // The tail: everything after the last section's data moves with the
  // image, except a certificate, which the change invalidates.
  const DataDirectory certificate = headers.Directory(kDirSecurity);
  const std::uint64_t certStart = certificate.rva, certEnd = std::uint64_t{certificate.rva} + certificate.size;
  if (certificate.size != 0 && certStart >= oldEnd && certEnd <= imageSize) {
    file.Copy(oldEnd, certStart - oldEnd);
    file.Copy(certEnd, imageSize - certEnd);
  } else {
    file.Copy(oldEnd, imageSize - oldEnd);
  }

  // Offsets into the file that moved with their bytes.
  for (std::size_t i = 0; i < headers.sections.size(); ++i) {
    Section &s = next.sections[i];
    if (!placed[i] && s.sizeOfRawData != 0) {
      const auto moved = file.Map(s.pointerToRawData, s.sizeOfRawData);
      if (!moved) return Fail(Cat(SectionWhere(headers, i), ": its raw data was not kept whole"));
      s.pointerToRawData = static_cast<std::uint32_t>(*moved);
    }
    MoveRecords(file, s.pointerToRelocations, s.numberOfRelocations, kRelocationRecordSize);
    MoveRecords(file, s.pointerToLinenumbers, s.numberOfLinenumbers, kLineNumberRecordSize);
  }
  next.pointerToSymbolTable = file.MapOrKeep(headers.pointerToSymbolTable);
  const DataDirectory debug = headers.Directory(kDirDebug);
  if (debug.size != 0) {
    const auto oldAt = headers.RvaToOffset(debug.rva, debug.size);
    const auto newAt = oldAt ? file.Map(*oldAt, debug.size) : std::nullopt;
    const auto old = newAt ? image.Bytes(*oldAt, debug.size) : std::nullopt;
    // Entries that claim to lie among the headers share their bytes with
    // fields written below; those fields win, so nothing is patched there.
    const std::uint64_t tableEnd = next.SectionTableOffset() + std::uint64_t{kSectionHeaderSize} * next.sections.size();
    if (old && *newAt >= tableEnd) {
      const ByteReader entries(*old);
      for (std::size_t i = 0; i < debug.size / kDebugEntrySize; ++i) {
        const std::size_t field = i * kDebugEntrySize + 24;
        file.Put32(*newAt + field, file.MapOrKeep(*entries.u32(field)));
      }
    }
  }

  next.directories[kDirResource] = {plan.sectionRva, static_cast<std::uint32_t>(content.Size())};
  if (kDirSecurity < next.directories.size()) next.directories[kDirSecurity] = {};
  const std::uint64_t sizeOfImage = next.ComputedSizeOfImage();
  if (sizeOfImage > 0xFFFFFFFFu) return Fail(Cat("the new image would span ", Hex(sizeOfImage), " bytes"));
  next.sizeOfImage = static_cast<std::uint32_t>(sizeOfImage);
  next.sizeOfInitializedData = static_cast<std::uint32_t>(
      std::clamp<std::int64_t>(std::int64_t{headers.sizeOfInitializedData} + initializedDelta, 0, 0xFFFFFFFF));

  // Write the patched headers back.
  file.Put16(next.CoffOffset() + 2, static_cast<std::uint16_t>(next.sections.size()));
  file.Put32(next.CoffOffset() + 8, next.pointerToSymbolTable);
  file.Put32(next.OptionalOffset() + 8, next.sizeOfInitializedData);
  file.Put32(next.OptionalOffset() + 56, next.sizeOfImage);
  file.Put32(next.OptionalOffset() + 60, next.sizeOfHeaders);
  for (std::size_t i = 0; i < next.directories.size(); ++i) {
    file.Put32(next.DirectoryOffset(i), next.directories[i].rva);
    file.Put32(next.DirectoryOffset(i) + 4, next.directories[i].size);
  }
  for (std::size_t i = 0; i < next.sections.size(); ++i) {
    WriteSectionHeader(file, next.SectionTableOffset() + kSectionHeaderSize * i, next.sections[i]);
  }
  // An installer appended to the image that checks the file gets its check
  // value made again over the new file, before the checksum sums it.
  const auto installerCheck = NsisCrcPatch(image, headers, file.Pieces());
  if (!installerCheck) return Fail(installerCheck.error());
  if (*installerCheck) file.PutBytes((*installerCheck)->at, (*installerCheck)->bytes);
  // Every header field lies within the file's first bytes, which ParseHeaders checked.
  file.PutChecksum(next.CheckSumOffset());
  return file.Finish();
}

} // namespace qm::pe
