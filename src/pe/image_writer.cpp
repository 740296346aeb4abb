#include "pe/image_writer.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "base/byte_reader.h"
#include "base/shown_text.h"
#include "pe/checksum.h"
#include "pe/nsis_installer.h"
#include "pe/pe_layout.h"
#include "pe/text.h"

namespace qm::pe {
namespace {

std::string SectionWhere(const PeHeaders &headers, std::size_t i) {
  return Cat("section ", i, " ", Quoted(headers.sections[i].Name()));
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
      return Failed(Fail(ErrorKind::Damaged,
                         Cat("copying ", Hex(length), " bytes from ", Hex(from), " runs past the module's end")));
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
    ChecksumStream sum(at);
    const Status read = file_.ForEachChunk(image_, [&](std::span<const std::uint8_t> chunk) {
      sum.Add(chunk);
      return Ok();
    });
    if (!read) return Failed(read.failure());
    Put32(at, sum.ToStore());
  }

  Result<NewFile> Finish() {
    if (failed_) return Context("the new module could not be assembled: ", error_);
    return std::move(file_);
  }

private:
  bool Grows(std::uint64_t by) {
    if (by > limit_ || file_.Size() > limit_ - by) {
      Failed(Fail(ErrorKind::NoRoom, Cat("the new module would exceed ", Hex(limit_), " bytes")));
      return false;
    }
    return true;
  }
  bool Fits(std::uint64_t at, std::uint64_t length) {
    if (failed_) return false;
    if (at > file_.Size() || length > file_.Size() - at) {
      Failed(Fail(Cat("a write of ", length, " bytes at ", Hex(at), " falls outside the ", Hex(file_.Size()),
                      " bytes written")));
      return false;
    }
    return true;
  }
  void Failed(Error why) {
    if (failed_) return;
    failed_ = true;
    error_ = std::move(why);
  }

  const ByteSource &image_;
  std::uint64_t limit_;
  NewFile file_;
  bool failed_ = false;
  Error error_;
};

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
  file.PutBytes(at + SectionField::kName, s.name);
  file.Put32(at + SectionField::kVirtualSize, s.virtualSize);
  file.Put32(at + SectionField::kVirtualAddress, s.virtualAddress);
  file.Put32(at + SectionField::kSizeOfRawData, s.sizeOfRawData);
  file.Put32(at + SectionField::kPointerToRawData, s.pointerToRawData);
  file.Put32(at + SectionField::kPointerToRelocations, s.pointerToRelocations);
  file.Put32(at + SectionField::kPointerToLinenumbers, s.pointerToLinenumbers);
  file.Put16(at + SectionField::kNumberOfRelocations, s.numberOfRelocations);
  file.Put16(at + SectionField::kNumberOfLinenumbers, s.numberOfLinenumbers);
  file.Put32(at + SectionField::kCharacteristics, s.characteristics);
}

// The new file as it is put together, and the headers that will describe
// it: `placed` marks sections whose raw pointers were set here rather than
// moved with their bytes.
struct Build {
  Assembler file;
  PeHeaders next;
  std::vector<bool> placed;
  std::int64_t initializedDelta = 0;
};

// The resource section grows or shrinks where it is; a relocation section
// after it moves after the new data.
void PlaceResized(Build &b, const PeHeaders &headers, const LayoutPlan &plan, const NewFile &content,
                  std::uint64_t rawSize) {
  const std::uint64_t oldEnd = headers.ImageFileEnd();
  const Section &r = headers.sections[plan.resourceSection];
  b.file.Copy(0, std::min(plan.dataOffset, oldEnd));
  b.file.PadTo(plan.dataOffset);
  b.file.Append(content);
  b.file.PadTo(plan.dataOffset + rawSize);
  Section &nr = b.next.sections[plan.resourceSection];
  nr.virtualSize = static_cast<std::uint32_t>(content.Size());
  nr.sizeOfRawData = static_cast<std::uint32_t>(rawSize);
  nr.pointerToRawData = static_cast<std::uint32_t>(plan.dataOffset);
  b.placed[plan.resourceSection] = true;
  if (r.characteristics & kScnInitializedData)
    b.initializedDelta = static_cast<std::int64_t>(rawSize) - static_cast<std::int64_t>(r.sizeOfRawData);
  if (plan.placement != Placement::MoveRelocation) return;
  const Section &last = headers.sections.back();
  Section &nl = b.next.sections.back();
  b.placed.back() = true;
  nl.virtualAddress = static_cast<std::uint32_t>(
      AlignUp(std::uint64_t{nr.virtualAddress} + nr.VirtualExtent(), headers.sectionAlignment));
  b.file.PadTo(AlignUp(b.file.Size(), headers.fileAlignment));
  // The tail follows its raw data directly, as before: data appended
  // to the image must not move away from the image's end.
  if (last.sizeOfRawData != 0) {
    nl.pointerToRawData = static_cast<std::uint32_t>(b.file.Size());
    b.file.Copy(last.pointerToRawData, last.sizeOfRawData);
  }
  b.next.directories[kDirBaseReloc].rva =
      headers.directories[kDirBaseReloc].rva - last.virtualAddress + nl.virtualAddress;
}

// A new section after the others, the raw data moved down to make room
// for its header where needed.
void PlaceNew(Build &b, const PeHeaders &headers, const LayoutPlan &plan, const NewFile &content,
              std::uint64_t rawSize) {
  const std::uint64_t oldEnd = headers.ImageFileEnd();
  const std::uint64_t firstRaw = headers.FirstRawData();
  if (plan.rawShift == 0) {
    b.file.Copy(0, oldEnd);
  } else {
    b.file.Copy(0, firstRaw);
    b.file.PadTo(firstRaw + plan.rawShift);
    b.file.Copy(firstRaw, oldEnd - firstRaw);
  }
  b.file.PadTo(plan.dataOffset);
  Section s;
  constexpr std::string_view kName = ".rsrc";
  std::copy(kName.begin(), kName.end(), s.name.begin());
  s.virtualSize = static_cast<std::uint32_t>(content.Size());
  s.virtualAddress = plan.sectionRva;
  s.sizeOfRawData = static_cast<std::uint32_t>(rawSize);
  s.pointerToRawData = static_cast<std::uint32_t>(plan.dataOffset);
  s.characteristics = kScnInitializedData | kScnMemRead;
  b.file.Append(content);
  b.file.PadTo(plan.dataOffset + rawSize);
  b.next.sections.push_back(s);
  b.placed.push_back(true);
  b.next.sizeOfHeaders = plan.sizeOfHeaders;
  if (plan.dropBoundImports) b.next.directories[kDirBoundImport] = {};
  b.initializedDelta = static_cast<std::int64_t>(rawSize);
}

// The tail: everything after the last section's data moves with the
// image, except a certificate, which the change invalidates.
void CopyTail(Assembler &file, const PeHeaders &headers, std::uint64_t imageSize) {
  const std::uint64_t oldEnd = headers.ImageFileEnd();
  const DataDirectory certificate = headers.Directory(kDirSecurity);
  const std::uint64_t certStart = certificate.rva, certEnd = std::uint64_t{certificate.rva} + certificate.size;
  // An empty one cuts nothing out.
  if (certStart >= oldEnd && certEnd <= imageSize) {
    file.Copy(oldEnd, certStart - oldEnd);
    file.Copy(certEnd, imageSize - certEnd);
  } else {
    file.Copy(oldEnd, imageSize - oldEnd);
  }
}

// The debug entries' file pointers, where the table was kept whole. Entries
// that claim to lie among the headers share their bytes with fields written
// later; those fields win, so nothing is patched there.
void RemapDebugEntries(Build &b, const ByteSource &image, const PeHeaders &headers) {
  const DataDirectory debug = headers.Directory(kDirDebug);
  const auto oldAt = headers.RvaToOffset(debug.rva, debug.size);
  const auto newAt = oldAt ? b.file.Map(*oldAt, debug.size) : std::nullopt;
  const auto old = newAt ? image.Bytes(*oldAt, debug.size) : std::nullopt;
  if (!old || *newAt < b.next.SectionTableEnd()) return;
  const ByteReader entries(*old);
  for (std::size_t i = 0; i < debug.size / kDebugEntrySize; ++i) {
    const std::size_t field = i * kDebugEntrySize + DebugField::kPointerToRawData;
    b.file.Put32(*newAt + field, b.file.MapOrKeep(*entries.u32(field)));
  }
}

// Offsets into the file that moved with their bytes.
Status RemapOffsets(Build &b, const ByteSource &image, const PeHeaders &headers) {
  for (std::size_t i = 0; i < headers.sections.size(); ++i) {
    Section &s = b.next.sections[i];
    if (!b.placed[i] && s.sizeOfRawData != 0) {
      const auto moved = b.file.Map(s.pointerToRawData, s.sizeOfRawData);
      if (!moved) return Fail(ErrorKind::NoRoom, Cat(SectionWhere(headers, i), ": its raw data was not kept whole"));
      s.pointerToRawData = static_cast<std::uint32_t>(*moved);
    }
    MoveRecords(b.file, s.pointerToRelocations, s.numberOfRelocations, kRelocationRecordSize);
    MoveRecords(b.file, s.pointerToLinenumbers, s.numberOfLinenumbers, kLineNumberRecordSize);
  }
  b.next.pointerToSymbolTable = b.file.MapOrKeep(headers.pointerToSymbolTable);
  RemapDebugEntries(b, image, headers);
  return Ok();
}

// The header fields the new layout changes, then written back.
Status PatchHeaders(Build &b, const PeHeaders &headers, const LayoutPlan &plan, const NewFile &content) {
  PeHeaders &next = b.next;
  next.directories[kDirResource] = {plan.sectionRva, static_cast<std::uint32_t>(content.Size())};
  if (kDirSecurity < next.directories.size()) next.directories[kDirSecurity] = {};
  const std::uint64_t sizeOfImage = next.ComputedSizeOfImage();
  if (sizeOfImage > 0xFFFFFFFFu)
    return Fail(ErrorKind::NoRoom, Cat("the new image would span ", Hex(sizeOfImage), " bytes"));
  next.sizeOfImage = static_cast<std::uint32_t>(sizeOfImage);
  next.sizeOfInitializedData = static_cast<std::uint32_t>(
      std::clamp<std::int64_t>(std::int64_t{headers.sizeOfInitializedData} + b.initializedDelta, 0, 0xFFFFFFFF));

  Assembler &file = b.file;
  file.Put16(next.CoffOffset() + Coff::kNumberOfSections, static_cast<std::uint16_t>(next.sections.size()));
  file.Put32(next.CoffOffset() + Coff::kPointerToSymbolTable, next.pointerToSymbolTable);
  file.Put32(next.OptionalOffset() + Optional::kSizeOfInitializedData, next.sizeOfInitializedData);
  file.Put32(next.OptionalOffset() + Optional::kSizeOfImage, next.sizeOfImage);
  file.Put32(next.OptionalOffset() + Optional::kSizeOfHeaders, next.sizeOfHeaders);
  for (std::size_t i = 0; i < next.directories.size(); ++i) {
    file.Put32(next.DirectoryOffset(i), next.directories[i].rva);
    file.Put32(next.DirectoryOffset(i) + kDataDirectorySizeField, next.directories[i].size);
  }
  for (std::size_t i = 0; i < next.sections.size(); ++i)
    WriteSectionHeader(file, next.SectionTableOffset() + kSectionHeaderSize * i, next.sections[i]);
  return Ok();
}

} // namespace

Result<NewFile> ApplyLayout(const ByteSource &image, const PeHeaders &headers, const LayoutPlan &plan,
                            const NewFile &content) {
  const std::uint64_t rawSize = AlignUp(content.Size(), headers.fileAlignment);
  const std::uint64_t imageSize = image.Size();
  if (headers.ImageFileEnd() > imageSize) return Fail(ErrorKind::Damaged, "the module is shorter than its sections");
  // The new file holds the old one, the new data, and zeros bounded by the
  // planning: the headers' growth and alignment padding.
  const std::uint64_t limit =
      std::min<std::uint64_t>(kMaxFileSize, 2 * imageSize + rawSize + 4 * std::uint64_t{0x10000});
  Build b{Assembler(image, limit), headers, std::vector<bool>(headers.sections.size(), false)};
  if (plan.placement == Placement::NewSection)
    PlaceNew(b, headers, plan, content, rawSize);
  else
    PlaceResized(b, headers, plan, content, rawSize);
  CopyTail(b.file, headers, imageSize);
  QM_RETURN_IF_ERROR(RemapOffsets(b, image, headers));
  QM_RETURN_IF_ERROR(PatchHeaders(b, headers, plan, content));
  // An installer appended to the image that checks the file gets its check
  // value made again over the new file, before the checksum sums it.
  QM_UNWRAP_OR_RETURN(installerCheck, NsisCrcPatch(image, headers, b.file.Pieces()));
  if (installerCheck) b.file.PutBytes(installerCheck->at, installerCheck->bytes);
  // Every header field lies within the file's first bytes, which ParseHeaders checked.
  b.file.PutChecksum(b.next.CheckSumOffset());
  return b.file.Finish();
}

} // namespace qm::pe
