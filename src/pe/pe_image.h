#pragma once
// The headers and section table of a PE32 or PE32+ module, checked.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "pe/byte_source.h"
#include "pe/pe_layout.h"

namespace qm::pe {

enum DirectoryIndex : std::size_t {
  kDirResource = 2,
  kDirSecurity = 4, // its address is a file offset, not an RVA
  kDirBaseReloc = 5,
  kDirDebug = 6,
  kDirBoundImport = 11,
};

inline constexpr std::uint32_t kScnInitializedData = 0x00000040;
inline constexpr std::uint32_t kScnMemRead = 0x40000000;
inline constexpr std::uint32_t kPageSize = 0x1000;

struct DataDirectory {
  std::uint32_t rva = 0;
  std::uint32_t size = 0;
};

struct Section {
  std::array<std::uint8_t, 8> name{};
  std::uint32_t virtualSize = 0;
  std::uint32_t virtualAddress = 0;
  std::uint32_t sizeOfRawData = 0;
  std::uint32_t pointerToRawData = 0;
  std::uint32_t pointerToRelocations = 0;
  std::uint32_t pointerToLinenumbers = 0;
  std::uint16_t numberOfRelocations = 0;
  std::uint16_t numberOfLinenumbers = 0;
  std::uint32_t characteristics = 0;

  std::string Name() const;
  // The loader maps max(VirtualSize, 0 -> SizeOfRawData) bytes.
  std::uint32_t VirtualExtent() const { return virtualSize != 0 ? virtualSize : sizeOfRawData; }
  // How many of the mapped bytes come from the file.
  std::uint32_t BackedSize() const {
    return virtualSize != 0 && virtualSize < sizeOfRawData ? virtualSize : sizeOfRawData;
  }
  std::uint64_t RawEnd() const { return std::uint64_t{pointerToRawData} + sizeOfRawData; }
  bool ContainsRva(std::uint32_t rva) const { return rva >= virtualAddress && rva - virtualAddress < VirtualExtent(); }
};

struct PeHeaders {
  std::uint32_t peOffset = 0; // e_lfanew
  std::uint16_t machine = 0;
  std::uint32_t pointerToSymbolTable = 0;
  std::uint32_t numberOfSymbols = 0;
  std::uint16_t sizeOfOptionalHeader = 0;
  bool pe32Plus = false;
  std::uint32_t sizeOfInitializedData = 0;
  std::uint32_t entryPoint = 0; // AddressOfEntryPoint
  std::uint32_t sectionAlignment = 0;
  std::uint32_t fileAlignment = 0;
  std::uint32_t sizeOfImage = 0;
  std::uint32_t sizeOfHeaders = 0;
  std::uint32_t checkSum = 0;
  // The bytes the file really holds: the loader maps what lies in it and
  // fills with zeros what the headers claim past its end.
  std::uint64_t fileSize = UINT64_MAX;
  std::vector<DataDirectory> directories; // NumberOfRvaAndSizes entries
  std::vector<Section> sections;

  // File offsets of the fields the writer patches, in 64 bits: e_lfanew
  // may be anything up to 4 GiB, and a 32-bit build must not wrap it.
  std::uint64_t CoffOffset() const { return std::uint64_t{peOffset} + kCoffAt; }
  std::uint64_t OptionalOffset() const { return std::uint64_t{peOffset} + kOptionalAt; }
  std::uint64_t SectionTableOffset() const { return OptionalOffset() + sizeOfOptionalHeader; }
  std::uint64_t SectionTableEnd() const {
    return SectionTableOffset() + std::uint64_t{kSectionHeaderSize} * sections.size();
  }
  std::uint64_t CheckSumOffset() const { return OptionalOffset() + Optional::kCheckSum; }
  std::uint64_t DirectoryOffset(std::size_t index) const {
    return OptionalOffset() + Optional::Directories(pe32Plus) + std::uint64_t{kDataDirectorySize} * index;
  }

  // A section alignment below the page size, where FileAlignment equals it.
  bool LowAlignment() const { return sectionAlignment < kPageSize; }
  // Mapped as the file lies: a low alignment and every section with file
  // data at an address equal to its file offset. The platform's loader
  // demands it of such user-mode images; firmware loaders (EFI
  // applications) copy each section to its address, so the writer keeps
  // the rule only for a module that already keeps it.
  bool FileMapped() const;

  // The headers' bytes that come from the file: SizeOfHeaders may reach
  // past its end, as a packer leaves it.
  std::uint64_t HeaderBytes() const { return std::min<std::uint64_t>(sizeOfHeaders, fileSize); }
  // How many of a section's mapped bytes the file really holds.
  std::uint32_t FileBacked(const Section &s) const;

  DataDirectory Directory(std::size_t index) const {
    return index < directories.size() ? directories[index] : DataDirectory{};
  }
  // The section whose mapped range holds `rva`, or none.
  std::optional<std::size_t> SectionOfRva(std::uint32_t rva) const;
  // The file offset of [rva, rva + size) when all of it is backed by file
  // bytes (the headers or one section's raw data).
  std::optional<std::uint64_t> RvaToOffset(std::uint32_t rva, std::uint32_t size) const;
  // End of the last section's raw data (or of what the headers map), within
  // the file: everything after it is the tail (overlay, symbol table,
  // certificate).
  std::uint64_t ImageFileEnd() const;
  // Where the first section's raw data begins: the headers end there.
  std::uint64_t FirstRawData() const;
  // The image size the sections need, rounded to SectionAlignment.
  std::uint64_t ComputedSizeOfImage() const;
};

// Checks and reads the DOS header, the PE signature, the COFF header, the
// optional header (PE32 or PE32+, any machine), its data directories and the
// section table, and checks what the loader checks: alignments, the
// headers' extent, every section's address and file range. File ranges are
// taken as the loader maps them: SizeOfHeaders past the file's end, raw data
// into the rest of the file's last 512-byte sector (zeros), raw data among
// the headers or sharing bytes. What is no PE module
// at all fails as NotAModule, headers that do not hold together as Damaged.
Result<PeHeaders> ParseHeaders(const ByteSource &source);

// What the writer needs beyond what the loader maps: the sections' raw data
// after the section table and within the file. A module laid out otherwise
// loads, but a stamp cannot keep it running; it fails as NoRoom, with a
// reason that names the layout.
Status CheckRewritable(const PeHeaders &headers);

} // namespace qm::pe
