#include "pe/pe_image.h"

#include <algorithm>
#include <iterator>

#include "base/byte_reader.h"
#include "base/shown_text.h"
#include "pe/text.h"

namespace qm::pe {
namespace {

constexpr std::uint32_t kMaxSections = 96 * 4; // far above any linker's output, still bounded
constexpr std::uint32_t kMinFileAlignment = 0x200;
constexpr std::uint32_t kMaxFileAlignment = 0x10000;
constexpr std::uint64_t kSectorSize = 512;

bool IsPowerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

std::string SectionWhere(const PeHeaders &h, std::size_t i) {
  return Cat("section ", i, " ", Quoted(h.sections[i].Name()));
}

Error Damaged(std::string why) { return Fail(ErrorKind::Damaged, std::move(why)); }
Error NotAModule(std::string why) { return Fail(ErrorKind::NotAModule, "not a module: " + std::move(why)); }

// File alignment from 512 bytes to 64 KiB, or, for images mapped as they
// lie in the file, equal to a section alignment below the page size.
Status CheckAlignments(const PeHeaders &h) {
  if (!IsPowerOfTwo(h.fileAlignment))
    return Damaged(Cat("optional header: FileAlignment ", Hex(h.fileAlignment), " is not a power of two"));
  if (!IsPowerOfTwo(h.sectionAlignment))
    return Damaged(Cat("optional header: SectionAlignment ", Hex(h.sectionAlignment), " is not a power of two"));
  if (h.LowAlignment()) {
    if (h.fileAlignment != h.sectionAlignment)
      return Damaged(Cat("optional header: SectionAlignment ", Hex(h.sectionAlignment),
                         " is below the page size, so FileAlignment must equal it, not ", Hex(h.fileAlignment)));
    return Ok();
  }
  if (h.fileAlignment < kMinFileAlignment || h.fileAlignment > kMaxFileAlignment)
    return Damaged(Cat("optional header: FileAlignment ", Hex(h.fileAlignment), " is outside ", Hex(kMinFileAlignment),
                       " to ", Hex(kMaxFileAlignment)));
  if (h.sectionAlignment < h.fileAlignment)
    return Damaged(Cat("optional header: SectionAlignment ", Hex(h.sectionAlignment), " is below FileAlignment ",
                       Hex(h.fileAlignment)));
  return Ok();
}

// What the loader checks of where things lie: the headers hold the section
// table; every section is mapped after them, and address ranges neither
// wrap nor overlap; raw data ends within the file's last 512-byte sector,
// which the loader reads whole, zeros past the file's end. Packers leave
// SizeOfHeaders past the file's end (the loader maps what the file holds),
// raw data among the headers (mapped as headers and again as the section)
// and raw ranges that share bytes, and such modules run. Readers go through
// RvaToOffset, which stays within the file.
Status CheckGeometry(const PeHeaders &h, std::uint64_t fileSize) {
  const std::uint64_t tableEnd = h.SectionTableEnd();
  if (h.sizeOfHeaders < tableEnd)
    return Damaged(Cat("optional header: SizeOfHeaders ", Hex(h.sizeOfHeaders), " ends before the section table does (",
                       Hex(tableEnd), ")"));
  std::vector<std::size_t> byAddress;
  for (std::size_t i = 0; i < h.sections.size(); ++i) {
    const Section &s = h.sections[i];
    if (s.virtualAddress < h.sizeOfHeaders)
      return Damaged(Cat(SectionWhere(h, i), ": address ", Hex(s.virtualAddress), " lies inside the headers (",
                         Hex(h.sizeOfHeaders), " bytes)"));
    if (std::uint64_t{s.virtualAddress} + s.VirtualExtent() > 0xFFFFFFFFu)
      return Damaged(Cat(SectionWhere(h, i), ": address range wraps"));
    byAddress.push_back(i);
    if (s.sizeOfRawData != 0 && s.RawEnd() > AlignUp(fileSize, kSectorSize))
      return Damaged(Cat(SectionWhere(h, i), ": raw data ", Hex(s.pointerToRawData), "+", Hex(s.sizeOfRawData),
                         " runs past the end of the file (", Hex(fileSize), " bytes)"));
  }
  std::sort(byAddress.begin(), byAddress.end(),
            [&](std::size_t a, std::size_t b) { return h.sections[a].virtualAddress < h.sections[b].virtualAddress; });
  const auto addressClash = std::adjacent_find(byAddress.begin(), byAddress.end(), [&](std::size_t a, std::size_t b) {
    return std::uint64_t{h.sections[a].virtualAddress} + h.sections[a].VirtualExtent() > h.sections[b].virtualAddress;
  });
  if (addressClash != byAddress.end()) {
    const std::size_t later = *std::next(addressClash);
    return Damaged(Cat(SectionWhere(h, later), ": address ", Hex(h.sections[later].virtualAddress), " overlaps ",
                       SectionWhere(h, *addressClash)));
  }
  return Ok();
}

} // namespace

std::string Section::Name() const {
  std::string out;
  for (auto c : name) {
    if (c == 0) break;
    out.push_back(static_cast<char>(c));
  }
  return out;
}

std::optional<std::size_t> PeHeaders::SectionOfRva(std::uint32_t rva) const {
  for (std::size_t i = 0; i < sections.size(); ++i) {
    if (sections[i].ContainsRva(rva)) return i;
  }
  return std::nullopt;
}

std::uint32_t PeHeaders::FileBacked(const Section &s) const {
  if (s.pointerToRawData >= fileSize) return 0;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(s.BackedSize(), fileSize - s.pointerToRawData));
}

std::optional<std::uint64_t> PeHeaders::RvaToOffset(std::uint32_t rva, std::uint32_t size) const {
  if (rva < HeaderBytes() && size <= HeaderBytes() - rva) return rva;
  const auto index = SectionOfRva(rva);
  if (!index) return std::nullopt;
  const Section &s = sections[*index];
  const std::uint32_t within = rva - s.virtualAddress;
  const std::uint32_t backed = FileBacked(s);
  if (within > backed || size > backed - within) return std::nullopt;
  return std::uint64_t{s.pointerToRawData} + within;
}

bool PeHeaders::FileMapped() const {
  return LowAlignment() && std::all_of(sections.begin(), sections.end(), [](const Section &s) {
           return s.sizeOfRawData == 0 || s.pointerToRawData == s.virtualAddress;
         });
}

std::uint64_t PeHeaders::ImageFileEnd() const {
  std::uint64_t end = sizeOfHeaders;
  for (const auto &s : sections) {
    if (s.sizeOfRawData != 0) end = std::max(end, s.RawEnd());
  }
  return std::min(end, fileSize);
}

std::uint64_t PeHeaders::FirstRawData() const {
  std::uint64_t first = ImageFileEnd();
  for (const auto &s : sections) {
    if (s.sizeOfRawData != 0) first = std::min<std::uint64_t>(first, s.pointerToRawData);
  }
  return first;
}

std::uint64_t PeHeaders::ComputedSizeOfImage() const {
  std::uint64_t end = AlignUp(sizeOfHeaders, sectionAlignment);
  for (const auto &s : sections) {
    end = std::max(end, AlignUp(std::uint64_t{s.virtualAddress} + s.VirtualExtent(), sectionAlignment));
  }
  return end;
}

namespace {

// The signature and the COFF header, read with the optional header's
// first bytes in one piece.
// Gives the section count, which the table is read with once the optional
// header says where it begins.
Result<std::uint16_t> ReadCoff(const ByteSource &source, PeHeaders &h) {
  const auto dos = source.Bytes(0, kDosHeaderSize);
  if (!dos) return NotAModule(Cat(source.Size(), " bytes, shorter than a DOS header"));
  if ((*dos)[0] != 'M' || (*dos)[1] != 'Z') return NotAModule("no MZ signature");
  h.peOffset = *ByteReader(*dos).u32(kLfanewAt);
  const auto coff = source.Bytes(h.peOffset, kOptionalAt);
  if (!coff) return NotAModule(Cat("PE header offset ", Hex(h.peOffset), " is past the end of the file"));
  ByteReader c(*coff);
  if (*c.u32(0) != kPeSignature) return NotAModule(Cat("no PE signature at ", Hex(h.peOffset)));
  h.machine = *c.u16(kCoffAt + Coff::kMachine);
  const std::uint16_t sectionCount = *c.u16(kCoffAt + Coff::kNumberOfSections);
  h.pointerToSymbolTable = *c.u32(kCoffAt + Coff::kPointerToSymbolTable);
  h.numberOfSymbols = *c.u32(kCoffAt + Coff::kNumberOfSymbols);
  h.sizeOfOptionalHeader = *c.u16(kCoffAt + Coff::kSizeOfOptionalHeader);
  if (sectionCount > kMaxSections) return Damaged(Cat("COFF header: ", sectionCount, " sections is too many"));
  return sectionCount;
}

Status ReadOptional(const ByteSource &source, PeHeaders &h) {
  const auto optional = source.Bytes(h.OptionalOffset(), h.sizeOfOptionalHeader);
  if (!optional)
    return Damaged(Cat("optional header: ", h.sizeOfOptionalHeader, " bytes at ", Hex(h.OptionalOffset()),
                       " run past the end of the file"));
  ByteReader o(*optional);
  const auto magic = o.u16(Optional::kMagic);
  if (!magic) return Damaged("optional header: too short for its magic number");
  if (*magic != kMagicPe32 && *magic != kMagicPe32Plus)
    return Damaged(Cat("optional header: unknown magic number ", Hex(*magic)));
  h.pe32Plus = *magic == kMagicPe32Plus;
  const std::size_t directoriesOffset = Optional::Directories(h.pe32Plus);
  if (!o.has(0, directoriesOffset))
    return Damaged(Cat("optional header: ", h.sizeOfOptionalHeader, " bytes is too short for a ",
                       h.pe32Plus ? "PE32+" : "PE32", " header"));
  h.sizeOfInitializedData = *o.u32(Optional::kSizeOfInitializedData);
  h.entryPoint = *o.u32(Optional::kAddressOfEntryPoint);
  h.sectionAlignment = *o.u32(Optional::kSectionAlignment);
  h.fileAlignment = *o.u32(Optional::kFileAlignment);
  h.sizeOfImage = *o.u32(Optional::kSizeOfImage);
  h.sizeOfHeaders = *o.u32(Optional::kSizeOfHeaders);
  h.checkSum = *o.u32(Optional::kCheckSum);
  const std::uint32_t directoryCount = *o.u32(Optional::RvaCount(h.pe32Plus));
  QM_RETURN_IF_ERROR(CheckAlignments(h));
  if (directoryCount > (o.size() - directoriesOffset) / kDataDirectorySize)
    return Damaged(Cat("optional header: ", directoryCount, " data directories do not fit in its ",
                       h.sizeOfOptionalHeader, " bytes"));
  for (std::uint32_t i = 0; i < directoryCount; ++i) {
    const std::size_t at = directoriesOffset + kDataDirectorySize * i;
    h.directories.push_back({*o.u32(at), *o.u32(at + kDataDirectorySizeField)});
  }
  return Ok();
}

Status ReadSectionTable(const ByteSource &source, PeHeaders &h, std::uint16_t sectionCount) {
  const std::uint64_t tableOffset = h.SectionTableOffset();
  const auto table = source.Bytes(tableOffset, std::uint64_t{sectionCount} * kSectionHeaderSize);
  if (!table)
    return Damaged(
        Cat("section table: ", sectionCount, " headers at ", Hex(tableOffset), " run past the end of the file"));
  ByteReader t(*table);
  for (std::size_t i = 0; i < sectionCount; ++i) {
    const std::size_t at = i * kSectionHeaderSize;
    Section s;
    std::copy_n(table->begin() + static_cast<std::ptrdiff_t>(at + SectionField::kName), 8, s.name.begin());
    s.virtualSize = *t.u32(at + SectionField::kVirtualSize);
    s.virtualAddress = *t.u32(at + SectionField::kVirtualAddress);
    s.sizeOfRawData = *t.u32(at + SectionField::kSizeOfRawData);
    s.pointerToRawData = *t.u32(at + SectionField::kPointerToRawData);
    s.pointerToRelocations = *t.u32(at + SectionField::kPointerToRelocations);
    s.pointerToLinenumbers = *t.u32(at + SectionField::kPointerToLinenumbers);
    s.numberOfRelocations = *t.u16(at + SectionField::kNumberOfRelocations);
    s.numberOfLinenumbers = *t.u16(at + SectionField::kNumberOfLinenumbers);
    s.characteristics = *t.u32(at + SectionField::kCharacteristics);
    h.sections.push_back(s);
  }
  return Ok();
}

} // namespace

Result<PeHeaders> ParseHeaders(const ByteSource &source) {
  PeHeaders h;
  QM_UNWRAP_OR_RETURN(sectionCount, ReadCoff(source, h));
  QM_RETURN_IF_ERROR(ReadOptional(source, h));
  QM_RETURN_IF_ERROR(ReadSectionTable(source, h, sectionCount));
  QM_RETURN_IF_ERROR(CheckGeometry(h, source.Size()));
  h.fileSize = source.Size();
  return h;
}

Status CheckRewritable(const PeHeaders &h) {
  const std::uint64_t tableEnd = h.SectionTableEnd();
  for (std::size_t i = 0; i < h.sections.size(); ++i) {
    const Section &s = h.sections[i];
    // Without raw data the pointer is not used: the loader ignores it, and
    // so does the writer.
    if (s.sizeOfRawData == 0) continue;
    // The section's bytes are the headers' too: a changed header field
    // would change the program.
    if (s.pointerToRawData < tableEnd)
      return Fail(ErrorKind::NoRoom,
                  Cat("its sections lie inside its headers (", SectionWhere(h, i), " has its data at ",
                      Hex(s.pointerToRawData), ", before the section table ends at ", Hex(tableEnd), ")"));
    // The loader fills the rest of the last sector with zeros; data after
    // the image would come to lie there.
    if (s.RawEnd() > h.fileSize)
      return Fail(ErrorKind::NoRoom, Cat("its sections reach past the end of the file (", SectionWhere(h, i),
                                         " has its data at ", Hex(s.pointerToRawData), "+", Hex(s.sizeOfRawData),
                                         ", the file holds ", Hex(h.fileSize), " bytes)"));
  }
  return Ok();
}

} // namespace qm::pe
