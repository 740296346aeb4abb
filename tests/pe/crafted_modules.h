#pragma once
// Modules with a known fault or an unusual shape, each made from a valid
// module by named patches: the regression table of the writer, and seeds
// for its fuzzer. Free of the test framework, so the fuzz build uses it too.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pe/pe_image.h"
#include "pe/resource_tree.h"

namespace qm::pe::craft {

using Bytes = std::vector<std::uint8_t>;

// Directories the program never reads, placed only by these modules.
inline constexpr std::size_t kDirExport = 0;
inline constexpr std::size_t kDirImport = 1;

struct SectionShape {
  const char *name = ".data";
  std::uint32_t rva = 0;
  std::uint32_t virtualSize = 0;
  std::uint32_t rawPointer = 0;
  Bytes raw; // written at rawPointer; SizeOfRawData is its size
  std::uint32_t characteristics = kScnInitializedData | kScnMemRead;
};

struct ImageShape {
  std::uint16_t machine = 0x14C;
  bool pe32Plus = false;
  std::uint16_t subsystem = 3; // console
  std::uint32_t peOffset = 0x40;
  std::uint32_t sectionAlignment = 0x1000;
  std::uint32_t fileAlignment = 0x200;
  std::uint32_t sizeOfHeaders = 0x200;
  std::vector<SectionShape> sections;
  std::vector<DataDirectory> directories = std::vector<DataDirectory>(16);
  Bytes overlay; // appended after the last section's data
};

// A PE32 or PE32+ image as laid out by `shape`; SizeOfImage follows the
// sections.
Bytes BuildImage(const ImageShape &shape);
// One resource section holding `items` at `rva`, raw data at `rawPointer`.
SectionShape ResourceSection(std::span<const ResourceItem> items, std::uint32_t rva, std::uint32_t rawPointer,
                             std::uint32_t fileAlignment = 0x200);

// An image whose one section holds `items`, at 0x1000, raw data at 0x200.
ImageShape OneResourceSection(const std::vector<ResourceItem> &items);
// A section of `size` bytes of `fill`, mapped and stored alike in size.
SectionShape Filler(const char *name, std::uint32_t rva, std::uint32_t rawPointer, std::uint32_t size,
                    std::uint8_t fill);

// Where a patch writes: a field of the headers or of a section header, or
// an offset into a section's raw data.
struct Patch {
  std::string field; // "SizeOfHeaders", "section 0 PointerToRawData", "section 0 raw +72", "directory 2 size"
  std::uint32_t value = 0;
  std::string copyFrom = ""; // a field whose value is written instead
};
// Applies one patch; false when the field is unknown or out of the file.
bool ApplyPatch(Bytes &image, const Patch &patch);
// Moves the PE headers (signature to the end of the section table) to
// `peOffset`, the bytes left behind zeroed; false when they would not fit
// before the first section's data.
bool MovePeHeaders(Bytes &image, std::uint32_t peOffset);

struct Row {
  const char *name;
  // The module before patching: built here, or a test module's file name.
  std::function<Bytes()> base;
  const char *module = nullptr;
  std::vector<Patch> patches;
  std::optional<std::uint32_t> movePeHeadersTo;
  // Refused with a message holding this text, or (empty) stamped.
  const char *refusal = "";
};

// The table: every fault the writer once had, and the shapes it must
// stamp. Rows with `module` need the mingw test modules.
const std::vector<Row> &Rows();
// The row's module; empty when its base module cannot be read.
Bytes MakeRow(const Row &row, const std::filesystem::path &modules);

} // namespace qm::pe::craft
