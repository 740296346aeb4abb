#include "pe/pe_image.h"

#include <algorithm>
#include <iterator>

#include "base/byte_reader.h"
#include "base/shown_text.h"
#include "pe/text.h"

namespace qm::pe {
namespace {

constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
constexpr std::uint32_t kMaxSections = 96 * 4; // far above any linker's output, still bounded
constexpr std::uint32_t kMinFileAlignment = 0x200;
constexpr std::uint32_t kMaxFileAlignment = 0x10000;

bool IsPowerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

std::uint64_t AlignUp(std::uint64_t v, std::uint32_t alignment) {
  return alignment == 0 ? v : (v + alignment - 1) / alignment * alignment;
}

std::string SectionWhere(const PeHeaders &h, std::size_t i) {
  return Cat("section ", i, " ", Quoted(h.sections[i].Name()));
}

// File alignment from 512 bytes to 64 KiB, or, for images mapped as they
// lie in the file, equal to a section alignment below the page size.
Status CheckAlignments(const PeHeaders &h) {
  if (!IsPowerOfTwo(h.fileAlignment))
    return Fail(Cat("optional header: FileAlignment ", Hex(h.fileAlignment), " is not a power of two"));
  if (!IsPowerOfTwo(h.sectionAlignment))
    return Fail(Cat("optional header: SectionAlignment ", Hex(h.sectionAlignment), " is not a power of two"));
  if (h.LowAlignment()) {
    if (h.fileAlignment != h.sectionAlignment)
      return Fail(Cat("optional header: SectionAlignment ", Hex(h.sectionAlignment),
                      " is below the page size, so FileAlignment must equal it, not ", Hex(h.fileAlignment)));
    return Ok();
  }
  if (h.fileAlignment < kMinFileAlignment || h.fileAlignment > kMaxFileAlignment)
    return Fail(Cat("optional header: FileAlignment ", Hex(h.fileAlignment), " is outside ", Hex(kMinFileAlignment),
                    " to ", Hex(kMaxFileAlignment)));
  if (h.sectionAlignment < h.fileAlignment)
    return Fail(Cat("optional header: SectionAlignment ", Hex(h.sectionAlignment), " is below FileAlignment ",
                    Hex(h.fileAlignment)));
  return Ok();
}

// Everything the writer relies on about where things lie, checked once:
// the headers hold the section table and end within the file and before
// the first section in memory; every raw range lies within the file, after
// the section table; address ranges neither wrap nor overlap. Raw ranges
// may share bytes: the loader reads each section from its own pointer, and
// installers whose resources' raw size reaches over the relocations load
// and run. The writer copies the sections' raw data as one run, so shared
// bytes stay shared. Raw data may begin before SizeOfHeaders ends, as packers
// lay it out: in the file the headers end there, and the loader maps the
// bytes up to SizeOfHeaders as headers and again as the section.
Status CheckGeometry(const PeHeaders &h, std::uint64_t fileSize) {
  const std::uint64_t tableEnd = h.SectionTableOffset() + std::uint64_t{kSectionHeaderSize} * h.sections.size();
  if (h.sizeOfHeaders < tableEnd)
    return Fail(Cat("optional header: SizeOfHeaders ", Hex(h.sizeOfHeaders), " ends before the section table does (",
                    Hex(tableEnd), ")"));
  if (h.sizeOfHeaders > fileSize)
    return Fail(Cat("optional header: SizeOfHeaders ", Hex(h.sizeOfHeaders), " runs past the end of the file (",
                    Hex(fileSize), " bytes)"));
  std::vector<std::size_t> byAddress;
  for (std::size_t i = 0; i < h.sections.size(); ++i) {
    const Section &s = h.sections[i];
    if (s.virtualAddress < h.sizeOfHeaders)
      return Fail(Cat(SectionWhere(h, i), ": address ", Hex(s.virtualAddress), " lies inside the headers (",
                      Hex(h.sizeOfHeaders), " bytes)"));
    if (std::uint64_t{s.virtualAddress} + s.VirtualExtent() > 0xFFFFFFFFu)
      return Fail(Cat(SectionWhere(h, i), ": address range wraps"));
    byAddress.push_back(i);
    // Without raw data the pointer is not used: the loader ignores it, and
    // so does the writer.
    if (s.sizeOfRawData == 0) continue;
    if (s.RawEnd() > fileSize)
      return Fail(Cat(SectionWhere(h, i), ": raw data ", Hex(s.pointerToRawData), "+", Hex(s.sizeOfRawData),
                      " runs past the end of the file (", Hex(fileSize), " bytes)"));
    if (s.pointerToRawData < tableEnd)
      return Fail(Cat(SectionWhere(h, i), ": raw data at ", Hex(s.pointerToRawData),
                      " lies inside the headers (the section table ends at ", Hex(tableEnd), ")"));
  }
  std::sort(byAddress.begin(), byAddress.end(),
            [&](std::size_t a, std::size_t b) { return h.sections[a].virtualAddress < h.sections[b].virtualAddress; });
  const auto addressClash = std::adjacent_find(byAddress.begin(), byAddress.end(), [&](std::size_t a, std::size_t b) {
    return std::uint64_t{h.sections[a].virtualAddress} + h.sections[a].VirtualExtent() > h.sections[b].virtualAddress;
  });
  if (addressClash != byAddress.end()) {
    const std::size_t later = *std::next(addressClash);
    return Fail(Cat(SectionWhere(h, later), ": address ", Hex(h.sections[later].virtualAddress), " overlaps ",
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

std::optional<std::uint64_t> PeHeaders::RvaToOffset(std::uint32_t rva, std::uint32_t size) const {
  if (rva < sizeOfHeaders && size <= sizeOfHeaders - rva) return rva;
  const auto index = SectionOfRva(rva);
  if (!index) return std::nullopt;
  const Section &s = sections[*index];
  const std::uint32_t within = rva - s.virtualAddress;
  const std::uint32_t backed = s.BackedSize();
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
  return end;
}

std::uint64_t PeHeaders::ComputedSizeOfImage() const {
  std::uint64_t end = AlignUp(sizeOfHeaders, sectionAlignment);
  for (const auto &s : sections) {
    end = std::max(end, AlignUp(std::uint64_t{s.virtualAddress} + s.VirtualExtent(), sectionAlignment));
  }
  return end;
}

Result<PeHeaders> ParseHeaders(const ByteSource &source) {
  PeHeaders h;
  const auto dos = source.Bytes(0, 64);
  if (!dos) return Fail(Cat("not a module: ", source.Size(), " bytes, shorter than a DOS header"));
  if ((*dos)[0] != 'M' || (*dos)[1] != 'Z') return Fail("not a module: no MZ signature");
  h.peOffset = *ByteReader(*dos).u32(0x3C);

  // Signature, COFF header and the optional header's fixed part up to its
  // directory count, read in one piece.
  const auto coff = source.Bytes(h.peOffset, 24);
  if (!coff) return Fail(Cat("not a module: PE header offset ", Hex(h.peOffset), " is past the end of the file"));
  ByteReader c(*coff);
  if (*c.u32(0) != 0x00004550) return Fail(Cat("not a module: no PE signature at ", Hex(h.peOffset)));
  h.machine = *c.u16(4);
  const std::uint16_t sectionCount = *c.u16(6);
  h.pointerToSymbolTable = *c.u32(12);
  h.numberOfSymbols = *c.u32(16);
  h.sizeOfOptionalHeader = *c.u16(20);
  if (sectionCount > kMaxSections) return Fail(Cat("COFF header: ", sectionCount, " sections is too many"));

  const auto optional = source.Bytes(h.OptionalOffset(), h.sizeOfOptionalHeader);
  if (!optional)
    return Fail(Cat("optional header: ", h.sizeOfOptionalHeader, " bytes at ", Hex(h.OptionalOffset()),
                    " run past the end of the file"));
  ByteReader o(*optional);
  const auto magic = o.u16(0);
  if (!magic) return Fail("optional header: too short for its magic number");
  if (*magic != kMagicPe32 && *magic != kMagicPe32Plus)
    return Fail(Cat("optional header: unknown magic number ", Hex(*magic)));
  h.pe32Plus = *magic == kMagicPe32Plus;
  const std::size_t countOffset = h.pe32Plus ? 108 : 92;
  const std::size_t directoriesOffset = countOffset + 4;
  if (!o.has(0, directoriesOffset))
    return Fail(Cat("optional header: ", h.sizeOfOptionalHeader, " bytes is too short for a ",
                    h.pe32Plus ? "PE32+" : "PE32", " header"));
  h.sizeOfInitializedData = *o.u32(8);
  h.sectionAlignment = *o.u32(32);
  h.fileAlignment = *o.u32(36);
  h.sizeOfImage = *o.u32(56);
  h.sizeOfHeaders = *o.u32(60);
  h.checkSum = *o.u32(64);
  const std::uint32_t directoryCount = *o.u32(countOffset);
  if (auto st = CheckAlignments(h); !st) return Fail(st.error());
  if (directoryCount > (o.size() - directoriesOffset) / 8)
    return Fail(Cat("optional header: ", directoryCount, " data directories do not fit in its ", h.sizeOfOptionalHeader,
                    " bytes"));
  for (std::uint32_t i = 0; i < directoryCount; ++i) {
    h.directories.push_back({*o.u32(directoriesOffset + 8 * i), *o.u32(directoriesOffset + 8 * i + 4)});
  }

  const std::uint64_t tableOffset = h.SectionTableOffset();
  const auto table = source.Bytes(tableOffset, std::uint64_t{sectionCount} * kSectionHeaderSize);
  if (!table)
    return Fail(
        Cat("section table: ", sectionCount, " headers at ", Hex(tableOffset), " run past the end of the file"));
  ByteReader t(*table);
  for (std::size_t i = 0; i < sectionCount; ++i) {
    const std::size_t at = i * kSectionHeaderSize;
    Section s;
    std::copy_n(table->begin() + static_cast<std::ptrdiff_t>(at), 8, s.name.begin());
    s.virtualSize = *t.u32(at + 8);
    s.virtualAddress = *t.u32(at + 12);
    s.sizeOfRawData = *t.u32(at + 16);
    s.pointerToRawData = *t.u32(at + 20);
    s.pointerToRelocations = *t.u32(at + 24);
    s.pointerToLinenumbers = *t.u32(at + 28);
    s.numberOfRelocations = *t.u16(at + 32);
    s.numberOfLinenumbers = *t.u16(at + 34);
    s.characteristics = *t.u32(at + 36);
    h.sections.push_back(s);
  }
  if (auto st = CheckGeometry(h, source.Size()); !st) return Fail(st.error());
  return h;
}

} // namespace qm::pe
