// Modules laid out the way linkers rarely do it: sections out of file order,
// another directory inside the resource section, sections that carry
// relocation and line-number pointers. Whatever the writer chooses, what
// was there must still be there after a stamp.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/byte_reader.h"
#include "crafted_modules.h"
#include "pe/byte_source.h"
#include "pe/image_layout.h"
#include "pe/resource_update.h"
#include "pe/section_writer.h"
#include "stamp_promises.h"
#include "test_support.h"

namespace qm::pe::test {
namespace {

constexpr std::uint32_t kPe = 0x40, kOptional = kPe + 24, kTable = kOptional + 0xE0;
constexpr std::size_t kRelocationSize = 10, kLineNumberSize = 6; // COFF records

struct SectionSpec {
  const char *name;
  std::uint32_t rva, virtualSize, raw, rawSize;
  bool resources = false;
};

struct Pointers {
  std::size_t section; // index in the table
  std::uint32_t relocations, lineNumbers;
  std::uint16_t relocationCount, lineNumberCount;
};

struct LayoutCase {
  const char *name;
  Placement placement; // where a careful writer puts the new resources
  std::vector<SectionSpec> sections;
  std::uint32_t fileSize;
  std::vector<Pointers> pointers;
  DataDirectory exports;         // {0, 0} for none
  std::size_t blockSize = 0x300; // what is stamped
  const char *knownFault = nullptr;
  std::uint32_t sizeOfHeaders = 0x200;
};

std::vector<ResourceItem> OldResources() {
  return {{16, 1, 0x0409, 1252, Bytes(40, 0x11)}, {ResourceId::Named(u"DATA"), 7, 0, 0, Bytes(9, 0x22)}};
}

// Every byte of the file differs from its neighbours, so bytes read from a
// wrong place never match by chance.
Bytes Build(const LayoutCase &c) {
  Bytes image(c.fileSize);
  for (std::size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  std::fill(image.begin(), image.begin() + 0x200, 0);
  image[0] = 'M';
  image[1] = 'Z';
  PutU32(image, 0x3C, kPe);
  PutU32(image, kPe, 0x00004550);
  PutU16(image, kPe + 4, 0x14C);
  PutU16(image, kPe + 6, static_cast<std::uint16_t>(c.sections.size()));
  PutU16(image, kPe + 20, 0xE0);
  PutU16(image, kOptional, 0x10B);
  PutU32(image, kOptional + 32, 0x1000);
  PutU32(image, kOptional + 36, 0x200);
  PutU32(image, kOptional + 60, c.sizeOfHeaders);
  PutU16(image, kOptional + 68, 3);
  PutU32(image, kOptional + 92, 16);
  std::uint32_t imageEnd = 0x1000;
  for (std::size_t i = 0; i < c.sections.size(); ++i) {
    const SectionSpec &s = c.sections[i];
    const std::size_t at = kTable + 40 * i;
    std::copy(s.name, s.name + std::char_traits<char>::length(s.name), image.begin() + static_cast<std::ptrdiff_t>(at));
    PutU32(image, at + 8, s.virtualSize);
    PutU32(image, at + 12, s.rva);
    PutU32(image, at + 16, s.rawSize);
    PutU32(image, at + 20, s.raw);
    PutU32(image, at + 36, kScnInitializedData | kScnMemRead);
    imageEnd = std::max(imageEnd, (s.rva + s.virtualSize + 0xFFF) & ~0xFFFu);
    if (s.resources) {
      auto content = BuildResourceSection(OldResources(), s.rva);
      EXPECT_TRUE(content.ok()) << content.error();
      EXPECT_LE(content->size(), s.rawSize);
      std::copy(content->begin(), content->end(), image.begin() + s.raw);
      PutU32(image, kOptional + 96 + 8 * kDirResource, s.rva);
      PutU32(image, kOptional + 96 + 8 * kDirResource + 4, static_cast<std::uint32_t>(content->size()));
    }
  }
  PutU32(image, kOptional + 56, imageEnd);
  PutU32(image, kOptional + 96 + 8 * craft::kDirExport, c.exports.rva);
  PutU32(image, kOptional + 96 + 8 * craft::kDirExport + 4, c.exports.size);
  for (const Pointers &p : c.pointers) {
    const std::size_t at = kTable + 40 * p.section;
    PutU32(image, at + 24, p.relocations);
    PutU32(image, at + 28, p.lineNumbers);
    PutU16(image, at + 32, p.relocationCount);
    PutU16(image, at + 34, p.lineNumberCount);
  }
  return image;
}

std::optional<Bytes> BytesAt(const Bytes &image, std::uint64_t offset, std::size_t length) {
  const auto sub = ByteReader(image).sub(static_cast<std::size_t>(offset), length);
  if (!sub) return std::nullopt;
  return Bytes(sub->bytes().begin(), sub->bytes().end());
}

std::optional<Bytes> BytesAtRva(const Bytes &image, const PeHeaders &h, std::uint32_t rva, std::uint32_t size) {
  const auto offset = h.RvaToOffset(rva, size);
  return offset ? BytesAt(image, *offset, size) : std::nullopt;
}

const Section *Named(const PeHeaders &h, const std::string &name) {
  const auto it =
      std::find_if(h.sections.begin(), h.sections.end(), [&](const Section &s) { return s.Name() == name; });
  return it == h.sections.end() ? nullptr : &*it;
}

// A pointer and its count either still lead to the same records, or are
// both cleared because the records are gone.
void ExpectRecordsKept(const char *what, const Bytes &before, std::uint32_t oldPointer, std::uint16_t oldCount,
                       const Bytes &after, std::uint32_t newPointer, std::uint16_t newCount, std::size_t recordSize) {
  if (newPointer == 0 && newCount == 0) return;
  EXPECT_EQ(newCount, oldCount) << what;
  EXPECT_EQ(BytesAt(after, newPointer, recordSize * newCount), BytesAt(before, oldPointer, recordSize * oldCount))
      << what << " at " << newPointer << " no longer lead to the same records";
}

class ModuleLayouts : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ModuleLayouts, StampKeepsEverythingElseInPlace) {
  const LayoutCase &c = GetParam();
  if (c.knownFault) GTEST_SKIP() << c.knownFault;
  const Bytes original = Build(c);
  auto plan = PlanLayout(original, Headers(original));
  ASSERT_TRUE(plan.ok()) << plan.error();
  EXPECT_EQ(plan->placement, c.placement);
  const Bytes block(c.blockSize, 0x5A);
  auto update = ResourceUpdate::BeginInMemory(original);
  ASSERT_TRUE(update.ok()) << update.error();
  ASSERT_TRUE(update->Put(kTypeVersion, 1, 0, block).ok());
  const auto composedImage = ComposedBytes(*update);
  ASSERT_TRUE(composedImage.ok()) << composedImage.error();
  const Bytes &stamped = *composedImage;
  const PeHeaders before = Headers(original), after = Headers(stamped);

  ResourceMap expected = ReadResources(original);
  expected[{ResourceId(16), ResourceId(1), 0}] = {0, block};
  EXPECT_TRUE(ReadResources(stamped) == expected) << "the resources differ from the original plus the block";

  // Every other section: same place in memory, same bytes behind it, same
  // records behind its pointers.
  for (const Section &old : before.sections) {
    const Section *now = Named(after, old.Name());
    ASSERT_NE(now, nullptr) << old.Name();
    ExpectRecordsKept("relocations", original, old.pointerToRelocations, old.numberOfRelocations, stamped,
                      now->pointerToRelocations, now->numberOfRelocations, kRelocationSize);
    ExpectRecordsKept("line numbers", original, old.pointerToLinenumbers, old.numberOfLinenumbers, stamped,
                      now->pointerToLinenumbers, now->numberOfLinenumbers, kLineNumberSize);
    if (old.virtualAddress == before.Directory(kDirResource).rva) continue;
    EXPECT_EQ(now->virtualAddress, old.virtualAddress) << old.Name();
    EXPECT_EQ(BytesAtRva(stamped, after, old.virtualAddress, old.BackedSize()),
              BytesAtRva(original, before, old.virtualAddress, old.BackedSize()))
        << old.Name() << ": its bytes changed";
  }
  if (c.placement == Placement::NewSection) {
    ASSERT_EQ(after.sections.size(), before.sections.size() + 1);
    // Initialised data, readable; nothing the loader would execute or let
    // the program write.
    EXPECT_EQ(after.sections.back().characteristics, 0x40000040u);
  }
  const DataDirectory exports = before.Directory(craft::kDirExport);
  EXPECT_EQ(after.Directory(craft::kDirExport).rva, exports.rva);
  EXPECT_EQ(BytesAtRva(stamped, after, exports.rva, exports.size),
            BytesAtRva(original, before, exports.rva, exports.size))
      << "the export directory's bytes changed";

  for (std::size_t i = 0; i < after.sections.size(); ++i) {
    for (std::size_t k = i + 1; k < after.sections.size(); ++k) {
      const Section &a = after.sections[i], &b = after.sections[k];
      EXPECT_TRUE(a.virtualAddress + a.VirtualExtent() <= b.virtualAddress ||
                  b.virtualAddress + b.VirtualExtent() <= a.virtualAddress)
          << a.Name() << " and " << b.Name() << " overlap in memory";
      if (a.sizeOfRawData != 0 && b.sizeOfRawData != 0) {
        EXPECT_TRUE(a.RawEnd() <= b.pointerToRawData || b.RawEnd() <= a.pointerToRawData)
            << a.Name() << " and " << b.Name() << " overlap in the file";
      }
    }
  }
}

// The tail after the last section's data, at 0x600 in every layout below:
// relocations at 0x600 (2 records), line numbers at 0x614 (3 records).
const Pointers kTextIntoTail{0, 0x600, 0x614, 2, 3};
const Pointers kResourcesIntoTail{1, 0x620, 0x640, 1, 1};

const SectionSpec kText{".text", 0x1000, 0x200, 0x200, 0x200};
const SectionSpec kResourcesAfterText{".rsrc", 0x2000, 0x200, 0x400, 0x200, true};

INSTANTIATE_TEST_SUITE_P(
    Layouts, ModuleLayouts,
    ::testing::Values(LayoutCase{"ResourcesLast_PointersIntoTheTailMoveWithIt",
                                 Placement::InPlace,
                                 {kText, kResourcesAfterText},
                                 0x680,
                                 {kTextIntoTail, kResourcesIntoTail},
                                 {}},
                      LayoutCase{"ExportsInsideResources",
                                 Placement::NewSection,
                                 {kText, kResourcesAfterText},
                                 0x680,
                                 {kTextIntoTail},
                                 {0x21C0, 0x28}},
                      // Even an empty directory that names an address in the section
                      // keeps it from being resized; one that ends where it starts does not.
                      LayoutCase{"EmptyDirectoryInsideResources",
                                 Placement::NewSection,
                                 {kText, kResourcesAfterText},
                                 0x680,
                                 {},
                                 {0x2100, 0}},
                      LayoutCase{"EmptyDirectoryJustBeforeResources",
                                 Placement::InPlace,
                                 {kText, kResourcesAfterText},
                                 0x680,
                                 {},
                                 {0x1FFF, 0}},
                      LayoutCase{"ResourcesLastInTheTableButNotInTheFile",
                                 Placement::NewSection,
                                 {{".text", 0x1000, 0x200, 0x400, 0x200}, {".rsrc", 0x2000, 0x200, 0x200, 0x200, true}},
                                 0x680,
                                 {kTextIntoTail},
                                 {}},
                      LayoutCase{"ResourcesLastInTheFileButNotInMemory",
                                 Placement::NewSection,
                                 {{".text", 0x2000, 0x200, 0x200, 0x200}, {".rsrc", 0x1000, 0x200, 0x400, 0x200, true}},
                                 0x680,
                                 {kTextIntoTail},
                                 {},
                                 0x1400},
                      // A section without file data has no place in the file to collide
                      // with, whatever its PointerToRawData says.
                      LayoutCase{
                          "UninitialisedSectionPointingPastResources",
                          Placement::InPlace,
                          {kText, {".bss", 0x2000, 0x200, 0x600, 0}, {".rsrc", 0x3000, 0x200, 0x400, 0x200, true}},
                          0x680,
                          {kTextIntoTail},
                          {}},
                      // Counts past a byte: both of their bytes written back.
                      LayoutCase{"RecordCountsPastAByte",
                                 Placement::InPlace,
                                 {kText, kResourcesAfterText},
                                 0x2000,
                                 {{0, 0x600, 0x1000, 0x102, 0x1FF}},
                                 {}},
                      // A packer declares headers that take in the resources' data:
                      // rewriting it in place would end the file inside the headers.
                      LayoutCase{"ResourcesInsideTheDeclaredHeaders",
                                 Placement::NewSection,
                                 {kText, kResourcesAfterText},
                                 0x680,
                                 {},
                                 {},
                                 0x300,
                                 nullptr,
                                 0x600},
                      LayoutCase{"RelocationsInsideTheReplacedResources",
                                 Placement::InPlace,
                                 {kText, kResourcesAfterText},
                                 0x680,
                                 {{0, 0x5F0, 0, 1, 0}},
                                 {},
                                 0x300}),
    [](const auto &info) { return std::string(info.param.name); });

// Five section headers fill the 0x200 bytes of headers; bound imports sit
// right after the table. A sixth header needs the headers to grow (the
// loader maps only SizeOfHeaders bytes of them) and the bound imports,
// which only speed up loading, to give way.
TEST(ModuleLayouts, NewSectionHeaderGrowsTheHeadersOverBoundImports) {
  constexpr std::size_t kDirBoundImport = 11;
  LayoutCase c{"", Placement::NewSection, {}, 0xE80, {}, {}};
  c.sections = {{".rsrc", 0x1000, 0x200, 0x400, 0x200, true},
                {".a", 0x2000, 0x200, 0x600, 0x200},
                {".b", 0x3000, 0x200, 0x800, 0x200},
                {".c", 0x4000, 0x200, 0xA00, 0x200},
                {".d", 0x5000, 0x200, 0xC00, 0x200}};
  Bytes original = Build(c);
  std::fill(original.begin() + 0x200, original.begin() + 0x400, 0);
  std::fill(original.begin() + 0x200, original.begin() + 0x220, 0xB1);
  PutU32(original, kOptional + 96 + 8 * kDirBoundImport, 0x200);
  PutU32(original, kOptional + 96 + 8 * kDirBoundImport + 4, 0x20);
  const Bytes block(0x300, 0x5A);
  auto update = ResourceUpdate::BeginInMemory(original);
  ASSERT_TRUE(update.ok()) << update.error();
  ASSERT_TRUE(update->Put(kTypeVersion, 1, 0, block).ok());
  const auto composedImage = ComposedBytes(*update);
  ASSERT_TRUE(composedImage.ok()) << composedImage.error();
  const PeHeaders after = Headers(*composedImage);
  ASSERT_EQ(after.sections.size(), 6u);
  EXPECT_EQ(after.sizeOfHeaders, 0x400u);
  EXPECT_EQ(after.Directory(kDirBoundImport).rva, 0u);
  EXPECT_EQ(after.Directory(kDirBoundImport).size, 0u);
  ResourceMap expected = ReadResources(original);
  expected[{ResourceId(16), ResourceId(1), 0}] = {0, block};
  EXPECT_TRUE(ReadResources(*composedImage) == expected);
}

// The same five headers, but a section's data starts right where the
// headers end. The first section's address leaves room in memory, so the
// headers grow: every section's data moves down by one file-alignment unit
// and reads the same from its new place.
TEST(ModuleLayouts, FullHeadersBeforeTheFirstSectionGrowByMovingTheData) {
  LayoutCase c{"", Placement::NewSection, {}, 0xC80, {}, {}};
  c.sections = {{".z", 0x1000, 0x200, 0x200, 0x200},
                {".rsrc", 0x2000, 0x200, 0x400, 0x200, true},
                {".a", 0x3000, 0x200, 0x600, 0x200},
                {".b", 0x4000, 0x200, 0x800, 0x200},
                {".c", 0x5000, 0x200, 0xA00, 0x200}};
  Bytes image = Build(c);
  std::fill(image.begin() + 0x200, image.begin() + 0x400, 0);
  auto update = ResourceUpdate::BeginInMemory(image);
  ASSERT_TRUE(update.ok()) << update.error();
  ASSERT_TRUE(update->Put(kTypeVersion, 1, 0, Bytes(0x100, 0x5A)).ok());
  const auto composedImage = ComposedBytes(*update);
  ASSERT_TRUE(composedImage.ok()) << composedImage.error();
  const PeHeaders before = Headers(image), after = Headers(*composedImage);
  ASSERT_EQ(after.sections.size(), 6u);
  for (std::size_t i = 0; i < before.sections.size(); ++i) {
    const Section &old = before.sections[i], &moved = after.sections[i];
    EXPECT_EQ(moved.virtualAddress, old.virtualAddress) << old.Name();
    EXPECT_EQ(moved.pointerToRawData, old.pointerToRawData + 0x200) << old.Name();
    EXPECT_TRUE(std::equal(image.begin() + old.pointerToRawData, image.begin() + old.RawEnd(),
                           composedImage->begin() + moved.pointerToRawData))
        << old.Name();
  }
}

} // namespace
} // namespace qm::pe::test
