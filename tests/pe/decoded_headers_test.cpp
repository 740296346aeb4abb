// Header fields against values placed at their offsets in the format,
// addresses against the part of a section that has file data behind it, and
// the alignment of what the rebuilt tree writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "base/byte_reader.h"
#include "pe/byte_source.h"
#include "pe/res_file.h"
#include "pe/section_writer.h"
#include "pe/version_reader.h"
#include "test_support.h"

namespace qm::pe::test {
namespace {

constexpr std::size_t kPe = 0x40, kCoff = kPe + 4, kOptional = kPe + 24, kTable = kOptional + 0xE0;

TEST(DecodedHeaders, EachFieldComesFromItsOwnOffset) {
  const std::vector<ResourceItem> items = {{16, 1, 0, 1252, Bytes(4, 1)}};
  Bytes image = MinimalImage(items);
  PutU16(image, kCoff, 0x01C4);                  // Machine
  PutU32(image, kCoff + 8, 0x11223344);          // PointerToSymbolTable
  PutU32(image, kCoff + 12, 0x00550066);         // NumberOfSymbols
  PutU32(image, kOptional + 8, 0x01020304);      // SizeOfInitializedData
  PutU32(image, kOptional + 32, 0x2000);         // SectionAlignment
  PutU32(image, kOptional + 36, 0x400);          // FileAlignment
  PutU32(image, kOptional + 56, 0x00A0B000);     // SizeOfImage
  PutU32(image, kOptional + 64, 0x0A0B0C0D);     // CheckSum
  PutU32(image, kOptional + 96 + 8 * 5, 0x3000); // base relocation directory
  PutU32(image, kOptional + 96 + 8 * 5 + 4, 0x44);
  PutU32(image, kOptional + 96 + 8 * 15, 0x7770); // the last directory
  PutU32(image, kOptional + 96 + 8 * 15 + 4, 0x18);
  PutU32(image, kTable + 24, 0x1234);     // PointerToRelocations
  PutU32(image, kTable + 28, 0x2345);     // PointerToLinenumbers
  PutU16(image, kTable + 32, 0x0102);     // NumberOfRelocations
  PutU16(image, kTable + 34, 0x0304);     // NumberOfLinenumbers
  PutU32(image, kTable + 36, 0xC0000040); // Characteristics

  const PeHeaders h = Headers(image);
  EXPECT_EQ(h.peOffset, kPe);
  EXPECT_EQ(h.machine, 0x01C4);
  EXPECT_EQ(h.pointerToSymbolTable, 0x11223344u);
  EXPECT_EQ(h.numberOfSymbols, 0x00550066u);
  EXPECT_EQ(h.sizeOfOptionalHeader, 0xE0);
  EXPECT_FALSE(h.pe32Plus);
  EXPECT_EQ(h.sizeOfInitializedData, 0x01020304u);
  EXPECT_EQ(h.sectionAlignment, 0x2000u);
  EXPECT_EQ(h.fileAlignment, 0x400u);
  EXPECT_EQ(h.sizeOfImage, 0x00A0B000u);
  EXPECT_EQ(h.sizeOfHeaders, 0x200u);
  EXPECT_EQ(h.checkSum, 0x0A0B0C0Du);
  ASSERT_EQ(h.directories.size(), 16u);
  EXPECT_EQ(h.directories[2].rva, 0x1000u);
  EXPECT_EQ(h.directories[5].rva, 0x3000u);
  EXPECT_EQ(h.directories[5].size, 0x44u);
  EXPECT_EQ(h.directories[15].rva, 0x7770u);
  EXPECT_EQ(h.directories[15].size, 0x18u);
  ASSERT_EQ(h.sections.size(), 1u);
  const Section &s = h.sections[0];
  EXPECT_EQ(s.Name(), ".rsrc");
  EXPECT_EQ(s.virtualAddress, 0x1000u);
  EXPECT_EQ(s.sizeOfRawData, 0x200u);
  EXPECT_EQ(s.pointerToRawData, 0x200u);
  EXPECT_EQ(s.pointerToRelocations, 0x1234u);
  EXPECT_EQ(s.pointerToLinenumbers, 0x2345u);
  EXPECT_EQ(s.numberOfRelocations, 0x0102);
  EXPECT_EQ(s.numberOfLinenumbers, 0x0304);
  EXPECT_EQ(s.characteristics, 0xC0000040u);
  const auto version = ReadVersionResource(MemorySource(image), 0);
  ASSERT_TRUE(version.ok() && version->has_value());
  EXPECT_EQ((*version)->codePage, 1252u);
}

TEST(DecodedHeaders, MachineAndFormatOfRealModules) {
  if (!HaveModules()) GTEST_SKIP() << "mingw-w64 is not installed: no test modules";
  const struct {
    const char *module;
    std::uint16_t machine;
    bool pe32Plus;
    std::uint16_t optionalSize;
  } cases[] = {{"app64_last.exe", 0x8664, true, 0xF0}, {"app32_last.exe", 0x14C, false, 0xE0}};
  for (const auto &c : cases) {
    const PeHeaders h = Headers(ReadBytes(ModulePath(c.module)));
    EXPECT_EQ(h.machine, c.machine) << c.module;
    EXPECT_EQ(h.pe32Plus, c.pe32Plus) << c.module;
    EXPECT_EQ(h.sizeOfOptionalHeader, c.optionalSize) << c.module;
    ASSERT_EQ(h.directories.size(), 16u) << c.module;
    // The linker puts the resources at the start of .rsrc: the directories
    // were read from the right place.
    const auto rsrc =
        std::find_if(h.sections.begin(), h.sections.end(), [](const Section &s) { return s.Name() == ".rsrc"; });
    ASSERT_NE(rsrc, h.sections.end()) << c.module;
    EXPECT_EQ(h.directories[kDirResource].rva, rsrc->virtualAddress) << c.module;
  }
}

// Sections: A maps 0x800 bytes of which 0x400 come from the file; B maps
// 0x100 of its 0x200 raw bytes; C has no VirtualSize, so it maps its raw
// data. The headers are 0x400 bytes, or as a packer declares them, 0x1000.
PeHeaders ThreeSections(std::uint32_t sizeOfHeaders) {
  PeHeaders h;
  h.sizeOfHeaders = sizeOfHeaders;
  Section a, b, c;
  a.virtualAddress = 0x1000, a.virtualSize = 0x800, a.pointerToRawData = 0x400, a.sizeOfRawData = 0x400;
  b.virtualAddress = 0x2000, b.virtualSize = 0x100, b.pointerToRawData = 0x800, b.sizeOfRawData = 0x200;
  c.virtualAddress = 0x3000, c.virtualSize = 0, c.pointerToRawData = 0xA00, c.sizeOfRawData = 0x200;
  h.sections = {a, b, c};
  return h;
}

struct AddressCase {
  const char *name;
  std::uint32_t rva, size;
  std::optional<std::uint64_t> offset;
  std::uint32_t sizeOfHeaders = 0x400;
  std::uint64_t fileSize = 0xC00;
};
class AddressMapping : public ::testing::TestWithParam<AddressCase> {};
TEST_P(AddressMapping, OnlyFileBackedRangesHaveAnOffset) {
  PeHeaders h = ThreeSections(GetParam().sizeOfHeaders);
  h.fileSize = GetParam().fileSize;
  EXPECT_EQ(h.RvaToOffset(GetParam().rva, GetParam().size), GetParam().offset);
}
INSTANTIATE_TEST_SUITE_P(
    Table, AddressMapping,
    ::testing::Values(AddressCase{"InTheHeaders", 0x10, 0x20, 0x10},
                      AddressCase{"EndingWithTheHeaders", 0x3F0, 0x10, 0x3F0},
                      AddressCase{"AcrossTheEndOfTheHeaders", 0x3F0, 0x20, std::nullopt},
                      AddressCase{"WholeFileDataOfASection", 0x1000, 0x400, 0x400},
                      AddressCase{"LastByteWithFileData", 0x13FF, 1, 0x7FF},
                      AddressCase{"AcrossTheEndOfTheFileData", 0x13FF, 2, std::nullopt},
                      AddressCase{"WhereTheFileDataEnds", 0x1400, 1, std::nullopt},
                      AddressCase{"DeepInTheUnbackedPart", 0x1600, 4, std::nullopt},
                      AddressCase{"BetweenSections", 0x1900, 1, std::nullopt},
                      AddressCase{"LastMappedByteOfAShortSection", 0x20FF, 1, 0x8FF},
                      AddressCase{"AcrossTheVirtualSize", 0x20F0, 0x20, std::nullopt},
                      AddressCase{"PastTheVirtualSize", 0x2100, 1, std::nullopt},
                      AddressCase{"NoVirtualSizeMapsTheRawData", 0x31FF, 1, 0xBFF},
                      AddressCase{"PastTheRawDataOfNoVirtualSize", 0x3200, 1, std::nullopt},
                      // The loader maps SizeOfHeaders bytes of the file, a
                      // section's data among them.
                      AddressCase{"PackedHeadersOverTheFirstData", 0x600, 0x10, 0x600, 0x1000},
                      AddressCase{"AcrossTheEndOfPackedHeaders", 0xFF0, 0x20, std::nullopt, 0x1000},
                      // A file shorter than its headers or its raw data: only
                      // what it holds has an offset, the rest is zeros.
                      AddressCase{"PackedHeadersToTheFileEnd", 0x8F0, 0x10, 0x8F0, 0x1000, 0x900},
                      AddressCase{"PackedHeadersPastTheFileEnd", 0x8F8, 0x10, std::nullopt, 0x1000, 0x900},
                      AddressCase{"RawDataToTheFileEnd", 0x2000, 0x80, 0x800, 0x400, 0x880},
                      AddressCase{"RawDataPastTheFileEnd", 0x2000, 0x81, std::nullopt, 0x400, 0x880},
                      AddressCase{"RawDataWhollyPastTheFileEnd", 0x3000, 1, std::nullopt, 0x400, 0x900}),
    [](const auto &info) { return std::string(info.param.name); });

// A resource whose data starts in the last bytes of the section's file data
// and runs on into the part the loader fills with zeros: what follows in
// the file is not part of it.
TEST(DecodedHeaders, DataRunningPastTheFileDataReadsAsZeros) {
  const std::vector<ResourceItem> items = {{16, 1, 0, 0, Bytes(4, 1)}};
  Bytes image = MinimalImage(items);
  constexpr std::size_t kSection = 0x200, kDataEntry = kSection + 72; // after three 24-byte directories
  PutU32(image, kTable + 8, 0x1000);                                  // VirtualSize beyond the 0x200 raw bytes
  PutU32(image, kDataEntry, 0x1000 + 0x200 - 4);
  PutU32(image, kDataEntry + 4, 8);
  const Bytes tail = {1, 2, 3, 4};
  std::copy(tail.begin(), tail.end(), image.end() - 4);
  image.insert(image.end(), 16, 0xEE); // data after the section in the file
  auto found = ReadVersionResource(MemorySource(image), 0);
  ASSERT_TRUE(found.ok()) << found.error();
  ASSERT_TRUE(found->has_value());
  EXPECT_EQ((*found)->bytes, (Bytes{1, 2, 3, 4, 0, 0, 0, 0}));
}

// Directory strings start on an even offset whatever the length of the
// names before them; each leaf's data starts on a multiple of 8.
TEST(DecodedHeaders, RebuiltTreeAlignsNamesAndData) {
  const std::vector<ResourceItem> items = {
      {ResourceId::Named(u"A"), ResourceId::Named(u"BCD"), 0, 0, Bytes(3, 1)},
      {ResourceId::Named(u"A"), ResourceId::Named(u"EF"), 0, 0, Bytes(5, 2)},
      {ResourceId::Named(u"GHIJK"), 1, 0, 0, Bytes(1, 3)},
      {16, ResourceId::Named(u"L"), 9, 0, Bytes(7, 4)},
  };
  constexpr std::uint32_t kRva = 0x1000;
  auto section = BuildResourceSection(items, kRva);
  ASSERT_TRUE(section.ok()) << section.error();
  const ByteReader r(*section);
  std::size_t names = 0, leaves = 0;
  // Walks the three levels by hand.
  std::function<void(std::uint32_t, int)> walk = [&](std::uint32_t dir, int level) {
    ASSERT_TRUE(r.has(dir, 16)) << dir;
    const std::size_t count = std::size_t{*r.u16(dir + 12)} + *r.u16(dir + 14);
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t name = *r.u32(dir + 16 + 8 * i), target = *r.u32(dir + 16 + 8 * i + 4);
      if (name & 0x80000000u) {
        ++names;
        EXPECT_EQ((name & 0x7FFFFFFFu) % 2, 0u) << "a name string at an odd offset, level " << level;
      }
      if (level < 2) {
        walk(target & 0x7FFFFFFFu, level + 1);
      } else {
        ++leaves;
        EXPECT_EQ(target % 4, 0u) << "a data entry off its 4-byte boundary";
        EXPECT_EQ((*r.u32(target) - kRva) % 8, 0u) << "leaf data off its 8-byte boundary";
      }
    }
  };
  walk(0, 0);
  EXPECT_EQ(names, 5u);
  EXPECT_EQ(leaves, 4u);
  // Read back, every name and every byte is where the entries say.
  ResourceMap expected;
  for (const ResourceItem &item : items)
    expected[{item.type, item.name, item.language}] = {0, Bytes(item.data.begin(), item.data.end())};
  EXPECT_TRUE(ReadResources(MinimalImage(items)) == expected);
}

// One field of MinimalImage changed; the error names what is wrong, or the
// headers are accepted (an empty text) at the edge of each limit.
struct HeaderFault {
  const char *name;
  std::size_t offset;
  std::uint32_t value;
  int width; // 1, 2 or 4 bytes
  const char *error;
};
class DamagedHeaders : public ::testing::TestWithParam<HeaderFault> {};
TEST_P(DamagedHeaders, AreRefusedWithTheirReason) {
  const HeaderFault &c = GetParam();
  const std::vector<ResourceItem> items = {{16, 1, 0, 0, Bytes(4, 1)}};
  Bytes image = MinimalImage(items);
  if (c.width == 1) image[c.offset] = static_cast<std::uint8_t>(c.value);
  if (c.width == 2) PutU16(image, c.offset, static_cast<std::uint16_t>(c.value));
  if (c.width == 4) PutU32(image, c.offset, c.value);
  auto headers = ParseHeaders(MemorySource(image));
  if (std::string(c.error).empty()) {
    EXPECT_TRUE(headers.ok()) << headers.error();
  } else {
    ASSERT_FALSE(headers.ok());
    EXPECT_NE(headers.error().find(c.error), std::string::npos) << headers.error();
  }
}
INSTANTIATE_TEST_SUITE_P(
    Table, DamagedHeaders,
    ::testing::Values(HeaderFault{"NoMzSignature", 1, 'X', 1, "no MZ signature"},
                      HeaderFault{"NoPeSignature", kPe + 3, 1, 1, "no PE signature"},
                      HeaderFault{"PeOffsetPastTheEnd", 0x3C, 0x3F0, 4, "past the end of the file"},
                      // The image is 0x400 bytes: the 24 bytes of signature and
                      // COFF header fit at 0x3E8, not at 0x3E9.
                      HeaderFault{"PeHeaderEndingWithTheFile", 0x3C, 0x3E8, 4, "no PE signature"},
                      HeaderFault{"PeHeaderOneBytePastTheEnd", 0x3C, 0x3E9, 4, "past the end of the file"},
                      HeaderFault{"TooManySections", kCoff + 2, 385, 2, "385 sections is too many"},
                      HeaderFault{"MostSectionsRunPastTheEnd", kCoff + 2, 384, 2, "section table: 384 headers"},
                      HeaderFault{"OptionalHeaderPastTheEnd", kCoff + 16, 0xFFFF, 2, "run past the end of the file"},
                      HeaderFault{"UnknownMagic", kOptional, 0x10C, 2, "unknown magic number"},
                      HeaderFault{"OptionalHeaderTooShortForPe32", kCoff + 16, 95, 2, "too short for a PE32 header"},
                      HeaderFault{"NoRoomForTheDirectories", kCoff + 16, 96, 2, "16 data directories do not fit"},
                      HeaderFault{"OneDirectoryTooMany", kOptional + 92, 17, 4, "17 data directories do not fit"},
                      HeaderFault{"FileAlignmentNotAPowerOfTwo", kOptional + 36, 0x300, 4, "FileAlignment 0x300"},
                      HeaderFault{"FileAlignmentZero", kOptional + 36, 0, 4, "is not a power of two"},
                      HeaderFault{"SectionAlignmentBelowFileAlignment", kOptional + 32, 0x100, 4,
                                  "FileAlignment must equal it"},
                      HeaderFault{"SectionAlignmentEqualToFileAlignment", kOptional + 32, 0x200, 4, ""},
                      // A packer's headers: the section's data begins inside them.
                      HeaderFault{"SizeOfHeadersReachingIntoTheFirstData", kOptional + 60, 0x400, 4, ""},
                      HeaderFault{"RawDataPastTheEnd", kTable + 16, 0x201, 4, "runs past the end of the file"},
                      // Packers' layouts the loader maps: headers past the file's end,
                      // raw data among the headers, mapped twice.
                      HeaderFault{"SizeOfHeadersPastTheEnd", kOptional + 60, 0x1000, 4, ""},
                      HeaderFault{"RawDataAmongTheHeaders", kTable + 20, 0x10, 4, ""},
                      HeaderFault{"SizeOfHeadersOverTheFirstSection", kOptional + 60, 0x1001, 4, "inside the headers"},
                      HeaderFault{"AddressRangeWraps", kTable + 12, 0xFFFFFFF8u, 4, "address range wraps"}),
    [](const auto &info) { return std::string(info.param.name); });

// Every fixed field of a compiled resource header, with a named type of odd
// length before them: the fields start on the next 4-byte boundary.
TEST(DecodedHeaders, ResourceFileHeaderFields) {
  Bytes res(32, 0);
  PutU32(res, 4, 32);
  PutU16(res, 8, 0xFFFF);
  PutU16(res, 12, 0xFFFF);
  Bytes header(8, 0);
  for (std::uint16_t unit :
       std::initializer_list<std::uint16_t>{'A', 'B', 0, 0xFFFF, 5}) // type "AB", name 5: 18 bytes, padded to 20
    header.insert(header.end(), {std::uint8_t(unit), std::uint8_t(unit >> 8)});
  header.resize(20 + 16, 0xEE);
  PutU32(header, 20, 0x01020304); // DataVersion
  PutU16(header, 24, 0x1030);     // MemoryFlags
  PutU16(header, 26, 0x0407);     // LanguageId
  PutU32(header, 28, 0x0A0B0C0D); // Version
  PutU32(header, 32, 0x11223344); // Characteristics
  PutU32(header, 0, 3);
  PutU32(header, 4, static_cast<std::uint32_t>(header.size()));
  res.insert(res.end(), header.begin(), header.end());
  res.insert(res.end(), {7, 8, 9, 0});
  auto entries = ParseResFile(res);
  ASSERT_TRUE(entries.ok()) << entries.error();
  ASSERT_EQ(entries->size(), 1u);
  const ResFileEntry &e = (*entries)[0];
  EXPECT_TRUE(e.type == ResourceId::Named(u"AB")) << e.type.ToString();
  EXPECT_TRUE(e.name == ResourceId(5)) << e.name.ToString();
  EXPECT_EQ(e.dataVersion, 0x01020304u);
  EXPECT_EQ(e.memoryFlags, 0x1030);
  EXPECT_EQ(e.language, 0x0407);
  EXPECT_EQ(e.version, 0x0A0B0C0Du);
  EXPECT_EQ(e.characteristics, 0x11223344u);
  EXPECT_EQ(e.data, (Bytes{7, 8, 9}));
}

// Names in messages: printable ASCII as it is, every other unit escaped.
TEST(DecodedHeaders, ResourceIdsAsText) {
  const struct {
    ResourceId id;
    const char *text;
  } cases[] = {
      {ResourceId(16), "16"},
      {ResourceId::Named(u" A~"), "\" A~\""},
      {ResourceId::Named(u"\x1F"), "\"\\u001f\""},
      {ResourceId::Named(u"\x7F"), "\"\\u007f\""},
      {ResourceId::Named(u"\x20AC"), "\"\\u20ac\""},
  };
  for (const auto &c : cases)
    EXPECT_EQ(c.id.ToString(), c.text);
}

// A long name close to the end of the section's data is read whole, and not
// a byte further; an empty leaf, which the tree builder places at the very
// end of the section, reads as empty; so does an empty name whose length
// word is the section's last two bytes.
struct EndCase {
  const char *name;
  Bytes data;
  const char *knownFault;
  std::u16string typeName = u"TYPE", resourceName = u"A name close to the end";
};
class SectionEnd : public ::testing::TestWithParam<EndCase> {};
TEST_P(SectionEnd, LastNameAndLeafAreRead) {
  if (GetParam().knownFault) GTEST_SKIP() << GetParam().knownFault;
  const std::vector<ResourceItem> items = {
      {ResourceId::Named(GetParam().typeName), ResourceId::Named(GetParam().resourceName), 0, 0, GetParam().data}};
  ResourceMap expected;
  expected[{items[0].type, items[0].name, 0}] = {0, GetParam().data};
  EXPECT_TRUE(ReadResources(MinimalImage(items)) == expected);
}
INSTANTIATE_TEST_SUITE_P(Table, SectionEnd,
                         ::testing::Values(EndCase{"NameBeforeOneByteOfData", Bytes{7}, nullptr},
                                           EndCase{"EmptyLeafAtTheSectionEnd", Bytes{}, nullptr},
                                           // Type name at 88 (6 bytes), the empty name at 94: the section is 96 bytes.
                                           EndCase{"EmptyNameEndingTheSection", Bytes{}, nullptr, u"TY", u""}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace qm::pe::test
