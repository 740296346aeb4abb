#include "crafted_modules.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "base/byte_reader.h"
#include "pe/section_writer.h"

namespace qm::pe::craft {

SectionShape Filler(const char *name, std::uint32_t rva, std::uint32_t rawPointer, std::uint32_t size,
                    std::uint8_t fill) {
  return {name, rva, size, rawPointer, Bytes(size, fill)};
}

ImageShape OneResourceSection(const std::vector<ResourceItem> &items) {
  ImageShape shape;
  shape.sections.push_back(ResourceSection(items, 0x1000, 0x200));
  shape.directories[kDirResource] = {0x1000, shape.sections[0].virtualSize};
  return shape;
}

namespace {

std::uint32_t AlignUp(std::uint32_t v, std::uint32_t a) { return (v + a - 1) / a * a; }

std::uint32_t U32(const Bytes &image, std::size_t at) {
  const auto v = ByteReader(image).u32(at);
  return v ? *v : 0;
}

std::uint32_t TableOffset(const Bytes &image) {
  const std::uint32_t pe = U32(image, 0x3C);
  const auto optionalSize = ByteReader(image).u16(std::size_t{pe} + 20);
  return pe + 24 + (optionalSize ? *optionalSize : 0);
}

Bytes ReadFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Two leaves: 10/2/0 (its data entry at +0x80) and 16/1/0 (at +0x90).
Bytes TwoLeaves() { return BuildImage(OneResourceSection({{16, 1, 0, 0, Bytes(4, 1)}, {10, 2, 0, 0, Bytes(4, 2)}})); }

// Addresses equal file offsets; the resources lie between two sections.
Bytes LowAlignment() {
  ImageShape shape;
  shape.sectionAlignment = shape.fileAlignment = 0x200;
  const std::vector<ResourceItem> items = {{10, 2, 0, 0, Bytes(40, 2)}};
  shape.sections.push_back(Filler(".text", 0x200, 0x200, 0x200, 0xCC));
  shape.sections.push_back(ResourceSection(items, 0x400, 0x400));
  const std::uint32_t next = 0x400 + static_cast<std::uint32_t>(shape.sections[1].raw.size());
  shape.sections.push_back(Filler(".data", next, next, 0x200, 0xDA));
  shape.directories[kDirResource] = {0x400, shape.sections[1].virtualSize};
  return BuildImage(shape);
}

// 64 small leaves (10/1..64/0) and one 64 KiB blob (11/1/0).
Bytes SharedBlobBase() {
  std::vector<ResourceItem> items;
  for (std::uint16_t i = 1; i <= 64; ++i)
    items.push_back({10, i, 0, 0, Bytes(16, static_cast<std::uint8_t>(i))});
  items.push_back({11, 1, 0, 0, Bytes(0x10000, 0x5A)});
  return BuildImage(OneResourceSection(items));
}
// Root 32, name directories 528 + 24, language directories 65 * 24: the
// data entries start at 2144, the blob's is the 65th.
constexpr std::uint32_t kSharedEntries = 2144;

std::vector<Patch> ShareTheBlob() {
  std::vector<Patch> patches;
  const std::string blob = "section 0 raw +" + std::to_string(kSharedEntries + 64 * 16);
  for (std::uint32_t i = 0; i < 64; ++i) {
    const std::string entry = "section 0 raw +" + std::to_string(kSharedEntries + 16 * i);
    patches.push_back({entry, 0, blob});
    patches.push_back({entry + "+4", 0, blob + "+4"});
  }
  return patches;
}

Bytes LongNames() {
  const ResourceId type = ResourceId::Named(std::u16string(0xFFFF, u'T'));
  const ResourceId name = ResourceId::Named(std::u16string(0xFFFF, u'N'));
  std::vector<ResourceItem> items;
  for (std::uint16_t language = 1; language <= 4096; ++language)
    items.push_back({type, name, language, 0, Bytes(4, 7)});
  return BuildImage(OneResourceSection(items));
}

// 10/1 with languages 0..65534, 10/2 with 65535; a patch renames 10/2 to
// 10/1 (its entry at +0x30), so one name holds 65536 languages.
Bytes ManyLanguagesBase() {
  std::vector<ResourceItem> items;
  for (std::uint32_t language = 0; language < 0xFFFF; ++language)
    items.push_back({10, 1, static_cast<std::uint16_t>(language), 0, {}});
  items.push_back({10, 2, 0xFFFF, 0, {}});
  return BuildImage(OneResourceSection(items));
}

// Type 10 with 4096 names whose language directories start 8 bytes apart
// in one run of bytes that repeats {id 0, data entry N}: read from any
// 8-byte step, the run is a directory of N entries. The module is a few
// hundred KiB; its tree, read naively, is 4096 x N leaves.
Bytes OneRunManyDirectories(std::uint32_t n) {
  constexpr std::uint32_t kNames = 4096, kNameDir = 0x18, kRun = kNameDir + 16 + 8 * kNames;
  Bytes tree(kRun + 8 * (kNames + n + 2), 0);
  PutU16(tree, 14, 1);
  PutU32(tree, 16, 10);
  PutU32(tree, 20, 0x80000000u | kNameDir);
  PutU16(tree, kNameDir + 14, kNames);
  for (std::uint32_t i = 0; i < kNames; ++i) {
    PutU32(tree, kNameDir + 16 + 8 * i, i + 1);
    PutU32(tree, kNameDir + 20 + 8 * i, 0x80000000u | (kRun + 8 * i));
  }
  // As a header the pair's second word is the named count; as an entry,
  // the target.
  for (std::size_t at = kRun; at + 8 <= tree.size(); at += 8)
    PutU32(tree, at + 4, n);
  ImageShape shape;
  SectionShape rsrc{".rsrc", 0x1000, static_cast<std::uint32_t>(tree.size()), 0x200, std::move(tree)};
  rsrc.raw.resize(AlignUp(static_cast<std::uint32_t>(rsrc.raw.size()), 0x200), 0);
  shape.sections.push_back(std::move(rsrc));
  shape.directories[kDirResource] = {0x1000, shape.sections[0].virtualSize};
  return BuildImage(shape);
}

// 16 types share one name directory whose one entry names one name of
// 65535 characters: the name is held once, and written once.
Bytes OneLongNameUnderManyTypes() {
  constexpr std::uint32_t kTypes = 16, kNameDir = 16 + 8 * kTypes, kLanguageDir = kNameDir + 24;
  constexpr std::uint32_t kDataEntry = kLanguageDir + 24, kText = kDataEntry + 16;
  Bytes tree(kText + 2 + 2 * 0xFFFF, 'n');
  std::fill(tree.begin(), tree.begin() + kText, 0);
  PutU16(tree, 14, kTypes);
  for (std::uint32_t t = 0; t < kTypes; ++t) {
    PutU32(tree, 16 + 8 * t, 100 + t);
    PutU32(tree, 20 + 8 * t, 0x80000000u | kNameDir);
  }
  PutU16(tree, kNameDir + 12, 1);
  PutU32(tree, kNameDir + 16, 0x80000000u | kText);
  PutU32(tree, kNameDir + 20, 0x80000000u | kLanguageDir);
  PutU16(tree, kLanguageDir + 14, 1);
  PutU32(tree, kLanguageDir + 20, kDataEntry);
  PutU32(tree, kDataEntry, 0x1000 + kText + 2); // four bytes of the name
  PutU32(tree, kDataEntry + 4, 4);
  PutU16(tree, kText, 0xFFFF);
  ImageShape shape;
  SectionShape rsrc{".rsrc", 0x1000, static_cast<std::uint32_t>(tree.size()), 0x200, std::move(tree)};
  rsrc.raw.resize(AlignUp(static_cast<std::uint32_t>(rsrc.raw.size()), 0x200), 0);
  shape.sections.push_back(std::move(rsrc));
  shape.directories[kDirResource] = {0x1000, shape.sections[0].virtualSize};
  return BuildImage(shape);
}

// A packer's layout: the section table ends at 0x268, the first data is at
// 0x400; an empty first section, then the packed code; the imports inside
// the resource section.
Bytes PackedShape() {
  ImageShape shape;
  shape.peOffset = 0xF8;
  shape.sizeOfHeaders = 0x400;
  const std::vector<ResourceItem> items = {{10, 2, 0, 0, Bytes(40, 2)}};
  shape.sections.push_back({"UPX0", 0x1000, 0x1000, 0x400, {}});
  shape.sections.push_back(Filler("UPX1", 0x2000, 0x400, 0xE00, 0x9C));
  shape.sections.push_back(ResourceSection(items, 0x3000, 0x1200));
  shape.directories[kDirImport] = {0x3000 + 0x60, 0x14};
  shape.directories[kDirResource] = {0x3000, shape.sections[2].virtualSize};
  return BuildImage(shape);
}

// A small packed module: SizeOfHeaders 0x1000 covers the whole file, the
// resources (last) among it.
Bytes PackedSmall() {
  ImageShape shape;
  shape.peOffset = 0xF8;
  shape.sizeOfHeaders = 0x1000;
  const std::vector<ResourceItem> items = {{10, 2, 0, 0, Bytes(40, 2)}};
  shape.sections.push_back({"UPX0", 0x1000, 0x1000, 0x400, {}});
  shape.sections.push_back(ResourceSection(items, 0x2000, 0x400));
  shape.directories[kDirResource] = {0x2000, shape.sections[1].virtualSize};
  return BuildImage(shape);
}

// The same, the file ending with its data as UPX leaves it: the loader maps
// the file's bytes as headers and fills the rest of SizeOfHeaders with zeros.
Bytes PackedShortFile() {
  Bytes image = PackedSmall();
  const std::size_t resources = TableOffset(image) + 40;
  image.resize(std::size_t{U32(image, resources + 20)} + U32(image, resources + 16));
  return image;
}

// A firmware (EFI) application as systemd-boot's is linked: PE32+, section
// alignment 0x200, code mapped at 0x5000 but stored at 0x400; no resources.
Bytes FirmwareImage() {
  ImageShape shape;
  shape.machine = 0x8664;
  shape.pe32Plus = true;
  shape.subsystem = 10;
  shape.peOffset = 0x80;
  shape.sectionAlignment = shape.fileAlignment = 0x200;
  shape.sizeOfHeaders = 0x400;
  shape.sections.push_back(Filler(".text", 0x5000, 0x400, 0x400, 0xCC));
  shape.sections.push_back(Filler(".reloc", 0xB000, 0x800, 0x200, 0x7E));
  shape.sections.push_back(Filler(".data", 0xC000, 0xA00, 0x200, 0xDA));
  shape.directories[kDirBaseReloc] = {0xB000, 0x200};
  return BuildImage(shape);
}

// As iPXE's are: section and file alignment 0x20, the headers full up to
// the first section's data, an uninitialised section between two others,
// the resources last.
Bytes TinyAlignmentFirmware() {
  ImageShape shape;
  shape.machine = 0x8664;
  shape.pe32Plus = true;
  shape.subsystem = 10;
  shape.peOffset = 0x80;
  shape.sectionAlignment = shape.fileAlignment = 0x20;
  shape.sizeOfHeaders = 0x240; // the table of four ends at 0x228
  const std::vector<ResourceItem> items = {{10, 2, 0, 0, Bytes(40, 2)}};
  shape.sections.push_back(Filler(".text", 0x1000, 0x240, 0x1E0, 0xCC));
  shape.sections.push_back({".bss", 0x11E0, 0x800, 0, {}});
  shape.sections.push_back(Filler(".reloc", 0x19E0, 0x420, 0x20, 0x7E));
  shape.sections.push_back(ResourceSection(items, 0x1A00, 0x440, 0x20));
  shape.directories[kDirBaseReloc] = {0x19E0, 0x20};
  shape.directories[kDirResource] = {0x1A00, shape.sections[3].virtualSize};
  return BuildImage(shape);
}

// The resources before the code, so the stamp appends a section header
// after a PE32 or PE32+ optional header. For the machines that only the
// headers tell apart.
Bytes Machine(std::uint16_t machine, bool pe32Plus) {
  ImageShape shape;
  shape.machine = machine;
  shape.pe32Plus = pe32Plus;
  const std::vector<ResourceItem> items = {{10, 2, 0, 0, Bytes(40, 2)}};
  shape.sections.push_back(ResourceSection(items, 0x1000, 0x200));
  const std::uint32_t next = 0x200 + static_cast<std::uint32_t>(shape.sections[0].raw.size());
  shape.sections.push_back(Filler(".text", 0x2000, next, 0x200, 0xCC));
  shape.directories[kDirResource] = {0x1000, shape.sections[0].virtualSize};
  return BuildImage(shape);
}

// Resources at 0x1000, then a data section; the PE headers at `peOffset`.
ImageShape ResourcesThenData(std::uint32_t peOffset) {
  ImageShape shape;
  shape.peOffset = peOffset;
  const std::vector<ResourceItem> items = {{10, 2, 0, 0, Bytes(40, 2)}};
  shape.sections.push_back(ResourceSection(items, 0x1000, 0x200));
  const std::uint32_t next = 0x200 + static_cast<std::uint32_t>(shape.sections[0].raw.size());
  shape.sections.push_back(Filler(".data", 0x2000, next, 0x200, 0xDA));
  shape.directories[kDirResource] = {0x1000, shape.sections[0].virtualSize};
  return shape;
}

// The section table ends exactly where the first section's data begins
// (0x200); the first section is mapped at 0x1000.
Bytes HeadersMeetData() { return BuildImage(ResourcesThenData(0xB8)); }

// Found by the writer's fuzzer: the relocation section, last, has a raw
// size that is not a multiple of FileAlignment, and data follows it.
Bytes UnalignedRelocationsThenOverlay() {
  ImageShape shape;
  const std::vector<ResourceItem> items = {{10, 2, 0, 0, Bytes(40, 2)}};
  shape.sections.push_back(ResourceSection(items, 0x1000, 0x200));
  const std::uint32_t next = 0x200 + static_cast<std::uint32_t>(shape.sections[0].raw.size());
  shape.sections.push_back({".reloc", 0x2000, 0x40, next, Bytes(0x41, 0x7E)});
  shape.directories[kDirResource] = {0x1000, shape.sections[0].virtualSize};
  shape.directories[kDirBaseReloc] = {0x2000, 0x40};
  const char overlay[] = "appended right after the relocations";
  shape.overlay.assign(overlay, overlay + sizeof overlay);
  return BuildImage(shape);
}

// A debug directory among the headers, one entry's file pointer being the
// second section's address, which is also an offset into the appended data
// (found by the writer's fuzzer): the section header must win.
Bytes DebugAmongHeaders() {
  ImageShape shape = ResourcesThenData(0x40);
  const std::uint32_t secondAddressField = shape.peOffset + 24 + 0xE0 + 40 + 12;
  shape.directories[kDirDebug] = {secondAddressField - 24, 28};
  for (std::uint32_t i = 0; i < 0x2100; ++i)
    shape.overlay.push_back(static_cast<std::uint8_t>(i * 7 + (i >> 8)));
  return BuildImage(shape);
}

// A debug table in the DOS stub, its entry's file pointer leading to the
// appended data, which moves: the stub is no table to patch.
Bytes DebugInTheStub() {
  ImageShape shape = ResourcesThenData(0x80);
  shape.directories[kDirDebug] = {0x44, 28};
  shape.overlay = Bytes(0x100, 0x0D);
  Bytes image = BuildImage(shape);
  PutU32(image, 0x44 + 24, static_cast<std::uint32_t>(image.size() - shape.overlay.size()));
  return image;
}

Bytes Odd(std::uint32_t peOffset) {
  ImageShape shape = OneResourceSection({{10, 2, 0, 0, Bytes(5, 2)}});
  shape.peOffset = peOffset;
  return BuildImage(shape);
}

} // namespace

Bytes BuildImage(const ImageShape &shape) {
  // PE32+ widens the image base and the four stack and heap sizes.
  const std::uint32_t optionalSize = shape.pe32Plus ? 0xF0 : 0xE0, widened = shape.pe32Plus ? 16 : 0;
  const std::uint32_t optional = shape.peOffset + 24, table = optional + optionalSize;
  std::uint32_t fileSize = shape.sizeOfHeaders, imageSize = AlignUp(shape.sizeOfHeaders, shape.sectionAlignment);
  std::uint32_t initialized = 0;
  for (const auto &s : shape.sections) {
    if (!s.raw.empty()) fileSize = std::max(fileSize, s.rawPointer + static_cast<std::uint32_t>(s.raw.size()));
    imageSize = std::max(imageSize, AlignUp(s.rva + std::max<std::uint32_t>(s.virtualSize, 1), shape.sectionAlignment));
    initialized += static_cast<std::uint32_t>(s.raw.size());
  }
  Bytes image(std::max<std::uint32_t>(fileSize, table + 40 * static_cast<std::uint32_t>(shape.sections.size())), 0);
  image[0] = 'M';
  image[1] = 'Z';
  PutU32(image, 0x3C, shape.peOffset);
  PutU32(image, shape.peOffset, 0x00004550);
  PutU16(image, shape.peOffset + 4, shape.machine);
  PutU16(image, shape.peOffset + 6, static_cast<std::uint16_t>(shape.sections.size()));
  PutU16(image, shape.peOffset + 20, static_cast<std::uint16_t>(optionalSize));
  PutU16(image, shape.peOffset + 22, shape.pe32Plus ? 0x0022 : 0x0102);
  PutU16(image, optional, shape.pe32Plus ? 0x20B : 0x10B);
  PutU32(image, optional + 8, initialized);
  if (shape.pe32Plus) {
    PutU32(image, optional + 24, 0x40000000); // ImageBase 0x1'40000000
    PutU32(image, optional + 28, 1);
  } else {
    PutU32(image, optional + 28, 0x400000);
  }
  PutU32(image, optional + 32, shape.sectionAlignment);
  PutU32(image, optional + 36, shape.fileAlignment);
  PutU16(image, optional + 40, 4);
  PutU16(image, optional + 48, 4);
  PutU32(image, optional + 56, imageSize);
  PutU32(image, optional + 60, shape.sizeOfHeaders);
  PutU16(image, optional + 68, shape.subsystem);
  PutU32(image, optional + 92 + widened, 16);
  for (std::size_t i = 0; i < shape.directories.size() && i < 16; ++i) {
    PutU32(image, optional + 96 + widened + 8 * i, shape.directories[i].rva);
    PutU32(image, optional + 100 + widened + 8 * i, shape.directories[i].size);
  }
  for (std::size_t i = 0; i < shape.sections.size(); ++i) {
    const SectionShape &s = shape.sections[i];
    const std::size_t at = table + 40 * i;
    for (std::size_t k = 0; k < 8 && s.name[k] != 0; ++k)
      image[at + k] = static_cast<std::uint8_t>(s.name[k]);
    PutU32(image, at + 8, s.virtualSize);
    PutU32(image, at + 12, s.rva);
    PutU32(image, at + 16, static_cast<std::uint32_t>(s.raw.size()));
    PutU32(image, at + 20, s.rawPointer);
    PutU32(image, at + 36, s.characteristics);
    std::copy(s.raw.begin(), s.raw.end(), image.begin() + s.rawPointer);
  }
  image.insert(image.end(), shape.overlay.begin(), shape.overlay.end());
  return image;
}

SectionShape ResourceSection(std::span<const ResourceItem> items, std::uint32_t rva, std::uint32_t rawPointer,
                             std::uint32_t fileAlignment) {
  auto content = BuildResourceSection(items, rva);
  SectionShape s{".rsrc", rva, 0, rawPointer, content ? std::move(*content) : Bytes{}};
  s.virtualSize = static_cast<std::uint32_t>(s.raw.size());
  s.raw.resize(AlignUp(static_cast<std::uint32_t>(s.raw.size()), fileAlignment), 0);
  return s;
}

// "e_lfanew", an optional header field, "directory N rva|size", "section N
// <field>", or "section N raw +X[+Y]" for the u32 at X (+Y) into its data.
static std::optional<std::size_t> FieldOffset(const Bytes &image, const std::string &field) {
  if (field == "e_lfanew") return 0x3C;
  const std::uint32_t optional = U32(image, 0x3C) + 24;
  const struct {
    const char *name;
    std::uint32_t at;
  } optionalFields[] = {{"SectionAlignment", 32}, {"FileAlignment", 36}, {"SizeOfImage", 56}, {"SizeOfHeaders", 60}};
  for (const auto &f : optionalFields) {
    if (field == f.name) return optional + f.at;
  }
  unsigned index = 0, extra = 0;
  char word[32] = {};
  unsigned at = 0;
  if (std::sscanf(field.c_str(), "directory %u %31s", &index, word) == 2) {
    const bool pe32Plus = ByteReader(image).u16(optional).value_or(0) == 0x20B;
    return optional + (pe32Plus ? 112 : 96) + 8 * index + (std::string(word) == "size" ? 4 : 0);
  }
  if (std::sscanf(field.c_str(), "section %u raw +%u+%u", &index, &at, &extra) >= 2) {
    const std::uint32_t pointer = U32(image, TableOffset(image) + 40 * index + 20);
    return std::size_t{pointer} + at + extra;
  }
  if (std::sscanf(field.c_str(), "section %u %31s", &index, word) == 2) {
    const struct {
      const char *name;
      std::uint32_t at;
    } sectionFields[] = {{"VirtualSize", 8}, {"VirtualAddress", 12}, {"SizeOfRawData", 16}, {"PointerToRawData", 20}};
    for (const auto &f : sectionFields) {
      if (std::string(word) == f.name) return std::size_t{TableOffset(image)} + 40 * index + f.at;
    }
  }
  return std::nullopt;
}

bool ApplyPatch(Bytes &image, const Patch &patch) {
  const auto at = FieldOffset(image, patch.field);
  if (!at || !ByteReader(image).has(*at, 4)) return false;
  std::uint32_t value = patch.value;
  if (!patch.copyFrom.empty()) {
    const auto from = FieldOffset(image, patch.copyFrom);
    if (!from || !ByteReader(image).has(*from, 4)) return false;
    value = U32(image, *from);
  }
  PutU32(image, *at, value);
  return true;
}

bool MovePeHeaders(Bytes &image, std::uint32_t peOffset) {
  const std::uint32_t pe = U32(image, 0x3C);
  const auto count = ByteReader(image).u16(std::size_t{pe} + 6);
  if (!count) return false;
  const std::size_t end = TableOffset(image) + std::size_t{40} * *count;
  const std::size_t headersEnd = U32(image, pe + 24 + 60);
  if (peOffset < 0x40 || end - pe + peOffset > headersEnd || headersEnd > image.size()) return false;
  Bytes headers(image.begin() + pe, image.begin() + static_cast<std::ptrdiff_t>(end));
  std::fill(image.begin() + pe, image.begin() + static_cast<std::ptrdiff_t>(end), 0);
  std::copy(headers.begin(), headers.end(), image.begin() + peOffset);
  PutU32(image, 0x3C, peOffset);
  return true;
}

const std::vector<Row> &Rows() {
  static const std::vector<Row> rows = {
      // Raw data claims the headers check once and the writer trusts.
      {"no raw data, pointer past the end",
       TwoLeaves,
       nullptr,
       {{"section 0 SizeOfRawData", 0}, {"section 0 PointerToRawData", 0x3000}},
       {},
       "not in the file's sections"},
      {"no raw data, pointer near 2 GiB",
       TwoLeaves,
       nullptr,
       {{"section 0 SizeOfRawData", 0}, {"section 0 PointerToRawData", 0x7FFFF000}},
       {},
       "not in the file's sections"},
      // Layouts the loader maps and runs, but where the section's bytes are
      // the headers' too, or missing: read, never stamped.
      {"raw data inside the headers",
       TwoLeaves,
       nullptr,
       {{"section 0 PointerToRawData", 0}},
       {},
       "its sections lie inside its headers"},
      {"raw data at an odd offset inside the headers",
       PackedSmall,
       nullptr,
       {{"section 1 PointerToRawData", 1}},
       {},
       "its sections lie inside its headers"},
      {"SizeOfHeaders 0", TwoLeaves, nullptr, {{"SizeOfHeaders", 0}}, {}, "SizeOfHeaders"},
      {"SizeOfHeaders 0x40, no raw data",
       TwoLeaves,
       nullptr,
       {{"SizeOfHeaders", 0x40}, {"section 0 SizeOfRawData", 0}},
       {},
       "SizeOfHeaders"},
      {"SizeOfHeaders over the first section",
       TwoLeaves,
       nullptr,
       {{"SizeOfHeaders", 0x10000}},
       {},
       "lies inside the headers"},
      {"raw data past the end", TwoLeaves, nullptr, {{"section 0 SizeOfRawData", 0x10000}}, {}, "past the end"},
      {"packed: the file ends inside its last sector",
       [] {
         Bytes image = PackedShortFile();
         image.resize(image.size() - 0x10);
         return image;
       },
       nullptr,
       {},
       {},
       "reach past the end of the file"},
      {"section mapped inside the headers",
       TwoLeaves,
       nullptr,
       {{"section 0 VirtualAddress", 0x100}},
       {},
       "inside the headers"},
      {"FileAlignment 0x10000000", TwoLeaves, nullptr, {{"FileAlignment", 0x10000000}}, {}, "FileAlignment"},
      {"FileAlignment 0x80000000", TwoLeaves, nullptr, {{"FileAlignment", 0x80000000}}, {}, "FileAlignment"},
      {"FileAlignment 0x10", TwoLeaves, nullptr, {{"FileAlignment", 0x10}}, {}, "FileAlignment"},
      {"SectionAlignment below the page, FileAlignment apart",
       TwoLeaves,
       nullptr,
       {{"SectionAlignment", 0x400}},
       {},
       "FileAlignment must equal"},
      {"SectionAlignment not a power of two", TwoLeaves, nullptr, {{"SectionAlignment", 0x1800}}, {}, "power of two"},
      {"address ranges overlap", LowAlignment, nullptr, {{"section 0 VirtualSize", 0x300}}, {}, "overlaps"},
      {"raw data starting in the section table",
       PackedShape,
       nullptr,
       {{"section 1 PointerToRawData", 0x267}},
       {},
       "its sections lie inside its headers"},
      // Shapes that must stamp.
      {"leaf in the zero-filled part of the section",
       TwoLeaves,
       nullptr,
       {{"section 0 VirtualSize", 0x2000}, {"section 0 raw +128", 0x2800}},
       {},
       ""},
      {"addresses equal file offsets, resources in the middle", LowAlignment, nullptr, {}, {}, ""},
      {"raw ranges share bytes", LowAlignment, nullptr, {{"section 2 PointerToRawData", 0x500}}, {}, ""},
      {"resources' raw size reaching over the next section",
       LowAlignment,
       nullptr,
       {{"section 1 SizeOfRawData", 0x400}},
       {},
       ""},
      {"64 leaves share one blob", SharedBlobBase, nullptr, ShareTheBlob(), {}, ""},
      {"4096 leaves under one long type and name", LongNames, nullptr, {}, {}, ""},
      {"65536 languages under one name", ManyLanguagesBase, nullptr, {{"section 0 raw +48", 1}}, {}, "65535"},
      // A shared subtree is read under each entry that reaches it; a loop,
      // or entries more than the tree's bytes hold apart, are refused.
      {"two types share one name directory", TwoLeaves, nullptr, {{"section 0 raw +28", 0x80000020}}, {}, ""},
      {"two names share one language directory", TwoLeaves, nullptr, {{"section 0 raw +76", 0x80000050}}, {}, ""},
      {"one long name under 16 types", OneLongNameUnderManyTypes, nullptr, {}, {}, ""},
      {"a name entry leads back to its own directory",
       TwoLeaves,
       nullptr,
       {{"section 0 raw +52", 0x80000020}},
       {},
       "the tree loops"},
      {"4096 names read one run as directories of 65535 languages",
       [] { return OneRunManyDirectories(0xFFFF); },
       nullptr,
       {},
       {},
       "entries than its"},
      {"4096 names read one run as directories of 64 languages",
       [] { return OneRunManyDirectories(64); },
       nullptr,
       {},
       {},
       "entries than its"},
      {"packed: table ends at 0x268, data at 0x400", PackedShape, nullptr, {}, {}, ""},
      {"packed: SizeOfHeaders 0x1000 reaches past the data at 0x400",
       PackedShape,
       nullptr,
       {{"SizeOfHeaders", 0x1000}},
       {},
       ""},
      {"packed: the headers cover the whole file, resources last", PackedSmall, nullptr, {}, {}, ""},
      {"packed: SizeOfHeaders past the end of the file", PackedShortFile, nullptr, {}, {}, ""},
      {"packed: raw data right after the section table",
       PackedShape,
       nullptr,
       {{"SizeOfHeaders", 0x1000}, {"section 1 PointerToRawData", 0x268}},
       {},
       ""},
      // The platform's rule that addresses equal file offsets under a low
      // section alignment is kept where a module keeps it; firmware images
      // do not, and are stamped all the same.
      {"low alignment, one section mapped away from its file offset",
       LowAlignment,
       nullptr,
       {{"section 2 VirtualAddress", 0x1000}},
       {},
       ""},
      {"firmware: section alignment 0x200, code at 0x5000 stored at 0x400", FirmwareImage, nullptr, {}, {}, ""},
      {"firmware: alignment 0x20, resources last", TinyAlignmentFirmware, nullptr, {}, {}, ""},
      {"firmware: alignment 0x20, full headers grow",
       TinyAlignmentFirmware,
       nullptr,
       {{"directory 2 rva", 0}, {"directory 2 size", 0}},
       {},
       ""},
      {"low alignment, no resources: a new section mapped as it lies",
       LowAlignment,
       nullptr,
       {{"directory 2 rva", 0}, {"directory 2 size", 0}},
       {},
       ""},
      {"low alignment, no resources, the section table full up to the first section",
       LowAlignment,
       nullptr,
       {{"directory 2 rva", 0}, {"directory 2 size", 0}},
       0x80,
       "the first section is mapped at 0x200, the headers would end at 0x400"},
      {"machine x64, PE32+", [] { return Machine(0x8664, true); }, nullptr, {}, {}, ""},
      {"machine ARM64, PE32+", [] { return Machine(0xAA64, true); }, nullptr, {}, {}, ""},
      {"machine ARM64EC, PE32+", [] { return Machine(0xA641, true); }, nullptr, {}, {}, ""},
      {"machine ARM Thumb-2, PE32", [] { return Machine(0x1C4, false); }, nullptr, {}, {}, ""},
      {"headers end where the data begins", HeadersMeetData, nullptr, {}, {}, ""},
      {"relocations last, raw size unaligned, data appended", UnalignedRelocationsThenOverlay, nullptr, {}, {}, ""},
      {"debug entries among the headers", DebugAmongHeaders, nullptr, {}, {}, ""},
      {"debug entries in the DOS stub", DebugInTheStub, nullptr, {}, {}, ""},
      {"odd e_lfanew", [] { return Odd(0x41); }, nullptr, {}, {}, ""},
      {"checksum field at 2 mod 4", [] { return Odd(0x42); }, nullptr, {}, {}, ""},
      // Real modules given the same shapes.
      {"real: header end rounds up to the first data", nullptr, "app32_bare.exe", {}, 0x178, ""},
      {"real: headers end where the data begins", nullptr, "app32_bare.exe", {}, 0x190, ""},
      {"real: headers end where the data begins, symbols and debug data", nullptr, "app64_middle.exe", {}, 0x1D0, ""},
      {"real: odd e_lfanew", nullptr, "app32_bare.exe", {}, 0x81, ""},
      {"real: checksum field at 2 mod 4", nullptr, "app64_middle.exe", {}, 0x82, ""},
      // A packer's SizeOfHeaders, past the first section's data: the new
      // section header fits in the file before that data, or moves it down
      // by what the header needs, not by what SizeOfHeaders claims.
      {"real: packed, SizeOfHeaders 0x1000", nullptr, "app32_bare.exe", {{"SizeOfHeaders", 0x1000}}, {}, ""},
      {"real: packed, SizeOfHeaders 0x1000, headers full",
       nullptr,
       "app32_bare.exe",
       {{"SizeOfHeaders", 0x1000}},
       0x190,
       ""},
      {"real: packed, SizeOfHeaders 0x1000, symbols and debug data",
       nullptr,
       "app64_middle.exe",
       {{"SizeOfHeaders", 0x1000}},
       0x1D0,
       ""},
  };
  return rows;
}

Bytes MakeRow(const Row &row, const std::filesystem::path &modules) {
  Bytes image = row.base ? row.base() : ReadFile(modules / row.module);
  if (image.empty()) return image;
  if (row.movePeHeadersTo && !MovePeHeaders(image, *row.movePeHeadersTo)) return {};
  for (const Patch &patch : row.patches) {
    if (!ApplyPatch(image, patch)) return {};
  }
  return image;
}

} // namespace qm::pe::craft
