// The writer's regression table: each row a valid module with named
// patches, refused with a clear message or stamped keeping every promise,
// in bounded size (these run under ASan/UBSan too).
#include <gtest/gtest.h>

#include "base/byte_reader.h"
#include "crafted_modules.h"
#include "pe/checksum.h"
#include "pe/image_layout.h"
#include "pe/resource_update.h"
#include "stamp_promises.h"
#include "test_support.h"

namespace qm::pe::craft {
// Failures name the row, not its bytes.
void PrintTo(const Row &row, std::ostream *out) { *out << row.name; }
} // namespace qm::pe::craft

namespace qm::pe::test {
namespace {

class WriterRows : public ::testing::TestWithParam<craft::Row> {};

TEST_P(WriterRows, RefusedCleanlyOrStamped) {
  const craft::Row &row = GetParam();
  if (row.module && !HaveModules()) GTEST_SKIP() << "mingw-w64 is not installed: no test modules";
  const Bytes image = craft::MakeRow(row, ModulePath("").parent_path());
  ASSERT_FALSE(image.empty()) << "the row's patches do not apply";
  const Bytes block(0x5C, 0x42);

  auto update = ResourceUpdate::BeginInMemory(image);
  Status end = update ? update->Put(kTypeVersion, 1, 0, block) : Status(update.failure());
  const auto composed = end ? update->Compose() : Result<NewFile>(end.failure());
  const auto stamped = composed ? composed->Materialize(update->Source()) : Result<Bytes>(composed.failure());
  if (*row.refusal != '\0') {
    ASSERT_FALSE(stamped.ok()) << "stamped, not refused";
    EXPECT_NE(stamped.error().find(row.refusal), std::string::npos) << stamped.error();
    return;
  }
  ASSERT_TRUE(stamped.ok()) << stamped.error();
  EXPECT_EQ(BrokenPromise(image, *stamped, block), "");
  // A stamp writes the same module piece by piece, never holding it whole.
  EXPECT_TRUE(WrittenAsAFile(*composed, image) == *stamped) << "written piece by piece, the module differs";
  // Work follows the real content: the new module holds the old one, the
  // block and at most a header's growth and alignment.
  EXPECT_LE(stamped->size(), image.size() + block.size() + 3 * 0x200u);
}

INSTANTIATE_TEST_SUITE_P(Table, WriterRows, ::testing::ValuesIn(craft::Rows()), [](const auto &info) {
  std::string name = info.param.name;
  for (char &c : name)
    c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
});

// Where the new section goes is planned before the content is laid out;
// whether content of its size fits there is checked again when the new
// module is composed, and a failure there is a module with no room.
TEST(WriterPlanning, BuildStepRefusesContentThatDoesNotFit) {
  Bytes image = craft::BuildImage([] {
    craft::ImageShape shape;
    shape.sections.push_back(
        craft::ResourceSection(std::vector<ResourceItem>{{10, 2, 0, 0, Bytes(4, 2)}}, 0x1000, 0x200));
    return shape;
  }());
  // No resource directory (so a new section), mapped just below 2 GiB.
  ASSERT_TRUE(craft::ApplyPatch(image, {"SizeOfImage", 0x7FFF0000}));
  struct Case {
    std::size_t blockSize;
    bool fits;
  };
  for (const Case c : {Case{0x100, true}, Case{0x10000, false}, Case{0x100000, false}}) {
    SCOPED_TRACE(c.blockSize);
    auto update = ResourceUpdate::BeginInMemory(image);
    ASSERT_TRUE(update.ok()) << update.error();
    ASSERT_TRUE(update->Put(kTypeVersion, 1, 0, Bytes(c.blockSize, 0x42)).ok());
    const auto stamped = ComposedBytes(*update);
    EXPECT_EQ(stamped.ok(), c.fits) << (stamped.ok() ? "" : stamped.error());
    if (!c.fits) {
      EXPECT_NE(stamped.error().find("no room for"), std::string::npos) << stamped.error();
      EXPECT_EQ(stamped.kind(), ErrorKind::NoRoom) << "a stamp would call the module damaged";
    }
  }
}

// Resources, and relocations moved after them, end at 2 GiB at most:
// exactly there is taken, one page past it refused.
TEST(WriterPlanning, ImageEndsAtTwoGiBAtMost) {
  struct Case {
    const char *name;
    bool relocationsLast;
    std::size_t blockSize;
    bool fits;
  };
  for (const Case c : {Case{"resources last, ending at 2 GiB", false, 0x100, true},
                       Case{"resources last, a page past", false, 0x1000, false},
                       Case{"relocations moved after them, ending at 2 GiB", true, 0x100, true},
                       Case{"relocations moved after them, a page past", true, 0x1000, false}}) {
    SCOPED_TRACE(c.name);
    craft::ImageShape shape;
    const std::uint32_t resources = c.relocationsLast ? 0x7FFFE000 : 0x7FFFF000;
    shape.sections.push_back(
        craft::ResourceSection(std::vector<ResourceItem>{{10, 2, 0, 0, Bytes(4, 2)}}, resources, 0x200));
    shape.directories[kDirResource] = {resources, shape.sections[0].virtualSize};
    if (c.relocationsLast) {
      const auto raw = 0x200 + static_cast<std::uint32_t>(shape.sections[0].raw.size());
      shape.sections.push_back(craft::Filler(".reloc", 0x7FFFF000, raw, 0x1000, 0x7E));
      shape.directories[kDirBaseReloc] = {0x7FFFF000, 0x1000};
    }
    const Bytes image = craft::BuildImage(shape);
    auto update = ResourceUpdate::BeginInMemory(image);
    ASSERT_TRUE(update.ok()) << update.error();
    ASSERT_TRUE(update->Put(kTypeVersion, 1, 0, Bytes(c.blockSize, 0x42)).ok());
    const auto stamped = ComposedBytes(*update);
    ASSERT_EQ(stamped.ok(), c.fits) << (stamped.ok() ? "" : stamped.error());
    if (c.fits)
      EXPECT_EQ(BrokenPromise(image, *stamped, Bytes(c.blockSize, 0x42)), "");
    else
      EXPECT_NE(stamped.error().find("0x80001000 bytes"), std::string::npos) << stamped.error();
  }
}

// Resources last without raw data grow where they are, wherever their
// pointer, which means nothing then, points.
TEST(WriterPlanning, ResourcesWithoutRawDataGrowWhereTheyAre) {
  for (const std::uint32_t pointer : {0u, 0x100u, 0x7FFFF000u}) {
    SCOPED_TRACE(pointer);
    Bytes image = craft::BuildImage(craft::OneResourceSection({{10, 2, 0, 0, Bytes(4, 2)}}));
    ASSERT_TRUE(craft::ApplyPatch(image, {"section 0 SizeOfRawData", 0}));
    ASSERT_TRUE(craft::ApplyPatch(image, {"section 0 PointerToRawData", pointer}));
    const auto plan = PlanLayout(MemorySource(image), Headers(image));
    ASSERT_TRUE(plan.ok()) << plan.error();
    EXPECT_EQ(plan->placement, Placement::InPlace);
  }
}

// An image mapped as it lies gets its new section at the same address and
// offset, after zeros for a gap of addresses nearly as large as the module.
TEST(WriterPlanning, MappedGapAsLargeAsTheModuleIsFilled) {
  craft::ImageShape shape;
  shape.sectionAlignment = shape.fileAlignment = 0x200;
  shape.sections.push_back(craft::Filler(".text", 0x200, 0x200, 0x50000, 0xCC));
  shape.sections.push_back({".bss", 0x50200, 0x4F000, 0, {}});
  const Bytes image = craft::BuildImage(shape);
  auto update = ResourceUpdate::BeginInMemory(image);
  ASSERT_TRUE(update.ok()) << update.error();
  const Bytes block(0x5C, 0x42);
  ASSERT_TRUE(update->Put(kTypeVersion, 1, 0, block).ok());
  const auto stamped = ComposedBytes(*update);
  ASSERT_TRUE(stamped.ok()) << stamped.error();
  EXPECT_EQ(BrokenPromise(image, *stamped, block), "");
  const PeHeaders headers = Headers(*stamped);
  ASSERT_EQ(headers.sections.size(), 3u);
  EXPECT_EQ(headers.sections[2].virtualAddress, 0x9F200u);
  EXPECT_EQ(headers.sections[2].pointerToRawData, 0x9F200u);
}

// The stored checksum is the platform's checksum of the file holding it,
// wherever the field lies (its bytes enter the sum at odd offsets) and
// whatever the file's length.
TEST(Checksum, StoredValueIsThePlatformsAtEveryFieldPosition) {
  std::uint32_t seed = 12345;
  for (std::size_t length : {std::size_t{200}, std::size_t{201}, std::size_t{4097}}) {
    Bytes file(length);
    for (auto &b : file)
      b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
    // 196 and 197 end the field at the end of a file of 200 and 201 bytes.
    for (std::size_t at : {64u, 65u, 66u, 67u, 196u, 197u}) {
      if (at + 4 > length) continue;
      Bytes stamped = file;
      const std::uint32_t stored = ChecksumToStore(stamped, at);
      PutU32(stamped, at, stored);
      EXPECT_EQ(ComputeChecksum(stamped, at), stored) << "length " << length << ", field at " << at;
      // Summed as a stream, in pieces of odd and even sizes.
      for (std::size_t piece : {1u, 3u, 8u, 1000u}) {
        ChecksumStream stream(at);
        for (std::size_t from = 0; from < file.size(); from += piece)
          stream.Add(std::span(file).subspan(from, std::min(piece, file.size() - from)));
        EXPECT_EQ(stream.ToStore(), ChecksumToStore(file, at)) << "pieces of " << piece << ", length " << length;
      }
    }
  }
}

// The fast sum holds words in 32-bit lanes: a file of the largest words,
// long enough to overflow a lane emptied too late.
TEST(Checksum, LargestWordsDoNotOverflowTheSum) {
  for (std::size_t length : {std::size_t{3} << 20, (std::size_t{3} << 20) + 1}) {
    Bytes file(length, 0xFF);
    const std::uint32_t stored = ChecksumToStore(file, 64);
    PutU32(file, 64, stored);
    EXPECT_EQ(ComputeChecksum(file, 64), stored) << "length " << length;
  }
}

} // namespace
} // namespace qm::pe::test
