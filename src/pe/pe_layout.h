#pragma once
// Where the fields of a PE module's headers lie, named once for the reader
// and the writer alike. Offsets are from the start of the structure each
// group names; the headers' own offsets come from PeHeaders.
#include <cstddef>
#include <cstdint>

namespace qm::pe {

// The one rounding up in the module code: to a multiple of `alignment`
// (which 0 leaves as it is).
constexpr std::uint64_t AlignUp(std::uint64_t v, std::uint64_t alignment) {
  return alignment == 0 ? v : (v + alignment - 1) / alignment * alignment;
}

// DOS header.
inline constexpr std::size_t kDosHeaderSize = 64;
inline constexpr std::size_t kLfanewAt = 0x3C;

// From e_lfanew: the signature, then the COFF header, then the optional one.
inline constexpr std::uint32_t kPeSignature = 0x00004550; // "PE\0\0"
inline constexpr std::size_t kCoffAt = 4;
inline constexpr std::size_t kOptionalAt = 24;

// COFF header.
struct Coff {
  static constexpr std::size_t kMachine = 0;
  static constexpr std::size_t kNumberOfSections = 2;
  static constexpr std::size_t kPointerToSymbolTable = 8;
  static constexpr std::size_t kNumberOfSymbols = 12;
  static constexpr std::size_t kSizeOfOptionalHeader = 16;
};

// Optional header (the same offsets in PE32 and PE32+ up to the stack
// reserve, where PE32+ fields widen).
struct Optional {
  static constexpr std::size_t kMagic = 0;
  static constexpr std::size_t kSizeOfInitializedData = 8;
  static constexpr std::size_t kAddressOfEntryPoint = 16;
  static constexpr std::size_t kSectionAlignment = 32;
  static constexpr std::size_t kFileAlignment = 36;
  static constexpr std::size_t kSizeOfImage = 56;
  static constexpr std::size_t kSizeOfHeaders = 60;
  static constexpr std::size_t kCheckSum = 64;
  static constexpr std::size_t kRvaCountPe32 = 92;
  static constexpr std::size_t kRvaCountPe32Plus = 108;
  static constexpr std::size_t RvaCount(bool pe32Plus) { return pe32Plus ? kRvaCountPe32Plus : kRvaCountPe32; }
  // The data directories follow their count.
  static constexpr std::size_t Directories(bool pe32Plus) { return RvaCount(pe32Plus) + 4; }
};
inline constexpr std::uint16_t kMagicPe32 = 0x10B;
inline constexpr std::uint16_t kMagicPe32Plus = 0x20B;
inline constexpr std::size_t kDataDirectorySize = 8;
inline constexpr std::size_t kDataDirectorySizeField = 4; // after the address

// Section header.
inline constexpr std::size_t kSectionHeaderSize = 40;
struct SectionField {
  static constexpr std::size_t kName = 0; // 8 bytes
  static constexpr std::size_t kVirtualSize = 8;
  static constexpr std::size_t kVirtualAddress = 12;
  static constexpr std::size_t kSizeOfRawData = 16;
  static constexpr std::size_t kPointerToRawData = 20;
  static constexpr std::size_t kPointerToRelocations = 24;
  static constexpr std::size_t kPointerToLinenumbers = 28;
  static constexpr std::size_t kNumberOfRelocations = 32;
  static constexpr std::size_t kNumberOfLinenumbers = 34;
  static constexpr std::size_t kCharacteristics = 36;
};

// A debug directory entry.
inline constexpr std::size_t kDebugEntrySize = 28;
struct DebugField {
  static constexpr std::size_t kSizeOfData = 16;
  static constexpr std::size_t kPointerToRawData = 24;
};

// The resource tree: directories of entries, data entries at the leaves.
// An entry's name field and target have the high bit set for a name and
// for a directory.
inline constexpr std::uint32_t kHighBit = 0x80000000u;
inline constexpr std::size_t kDirectoryHeaderSize = 16;
inline constexpr std::size_t kDirectoryNamedCount = 12;
inline constexpr std::size_t kDirectoryIdCount = 14;
inline constexpr std::size_t kEntrySize = 8;
inline constexpr std::size_t kEntryTarget = 4; // after the name or id
inline constexpr std::size_t kDataEntrySize = 16;
inline constexpr std::size_t kDataEntryRva = 0;
inline constexpr std::size_t kDataEntrySizeField = 4;
inline constexpr std::size_t kDataEntryCodePage = 8;

// Records that a section or the COFF header points at in the file.
inline constexpr std::uint64_t kSymbolRecordSize = 18;
inline constexpr std::uint64_t kRelocationRecordSize = 10;
inline constexpr std::uint64_t kLineNumberRecordSize = 6;

} // namespace qm::pe
