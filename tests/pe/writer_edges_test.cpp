// Module shapes at the edges of the writer's arithmetic: ends one byte past
// an alignment, where rounding down instead of up would put the new data on
// top of the old.
#include <gtest/gtest.h>

#include "base/byte_reader.h"
#include "crafted_modules.h"
#include "pe/new_file.h"
#include "pe/resource_id.h"
#include "pe/resource_update.h"
#include "pe/section_writer.h"
#include "stamp_promises.h"

namespace qm::pe::test {
namespace {

using craft::Bytes;

struct EdgeCase {
  const char *name;
  std::uint32_t rawSize;       // the data section's SizeOfRawData
  std::uint32_t virtualSize;   // and its VirtualSize
  std::uint32_t newSectionRaw; // where the new section's bytes must start
  std::uint32_t newSectionRva; // and its address
};

class WriterEdges : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(WriterEdges, NewSectionStartsPastEverything) {
  const EdgeCase &c = GetParam();
  craft::ImageShape shape;
  craft::SectionShape data;
  data.rva = 0x1000;
  data.virtualSize = c.virtualSize;
  data.rawPointer = 0x200;
  data.raw = Bytes(c.rawSize, 0x5A);
  shape.sections.push_back(data);
  const Bytes image = craft::BuildImage(shape);
  const Bytes block(0x5C, 0x42);

  auto update = ResourceUpdate::BeginInMemory(image);
  ASSERT_TRUE(update.ok()) << update.error();
  ASSERT_TRUE(update->Put(kTypeVersion, 1, 0, block).ok());
  const auto stamped = ComposedBytes(*update);
  ASSERT_TRUE(stamped.ok()) << stamped.error();
  const Bytes &out = *stamped;
  EXPECT_EQ(BrokenPromise(image, out, block), "");
  const ByteReader r(out);
  const std::size_t pe = *r.u32(0x3C);
  ASSERT_EQ(*r.u16(pe + 6), 2u);
  const std::size_t second = pe + 24 + *r.u16(pe + 20) + 40;
  EXPECT_EQ(*r.u32(second + 12), c.newSectionRva);
  EXPECT_EQ(*r.u32(second + 20), c.newSectionRaw);
}

INSTANTIATE_TEST_SUITE_P(Table, WriterEdges,
                         ::testing::Values(EdgeCase{"raw_end_on_a_multiple", 0x400, 0x400, 0x600, 0x2000},
                                           EdgeCase{"raw_end_one_past_a_multiple", 0x401, 0x400, 0x800, 0x2000},
                                           EdgeCase{"extent_one_past_a_page", 0x200, 0x1001, 0x400, 0x3000}),
                         [](const auto &info) { return std::string(info.param.name); });

// A base-relocation directory of size 0 names no relocations: the section
// after the resources at its address may be ordinary data the code reaches
// by address, so growing the resources must not move it.
TEST(WriterEdges, EmptyRelocationDirectoryKeepsTheLastSectionInPlace) {
  craft::ImageShape shape;
  shape.sections.push_back(
      craft::ResourceSection(std::vector<ResourceItem>{{10, 2, 0, 0, Bytes(4, 2)}}, 0x1000, 0x200));
  shape.directories[2] = {0x1000, shape.sections[0].virtualSize};
  shape.sections.push_back({".data", 0x2000, 0x200, 0x400, Bytes(0x200, 0xDA)});
  shape.directories[5] = {0x2000, 0};
  const Bytes image = craft::BuildImage(shape);
  const Bytes block(0x3000, 0x42); // more than the resource section can hold in place

  auto update = ResourceUpdate::BeginInMemory(image);
  ASSERT_TRUE(update.ok()) << update.error();
  ASSERT_TRUE(update->Put(kTypeVersion, 1, 0, block).ok());
  const auto stamped = ComposedBytes(*update);
  ASSERT_TRUE(stamped.ok()) << stamped.error();
  const Bytes &out = *stamped;
  EXPECT_EQ(BrokenPromise(image, out, block), "");
  const ByteReader r(out);
  const std::size_t pe = *r.u32(0x3C);
  const std::size_t table = pe + 24 + *r.u16(pe + 20);
  bool found = false;
  for (std::size_t i = 0; i < *r.u16(pe + 6); ++i) {
    const std::size_t at = table + 40 * i;
    if (std::string(reinterpret_cast<const char *>(&out[at]), 5) != ".data") continue;
    found = true;
    EXPECT_EQ(*r.u32(at + 12), 0x2000u) << "the data section was moved";
  }
  EXPECT_TRUE(found);
}

// The new file as pieces: each row's steps give the same bytes as the same
// steps done on a plain vector, whichever pieces sit next to each other, and
// each kept range is found where it was put.
struct PieceStep {
  char kind; // c: copy [a, a + b) of the old file; n: b new bytes of value a; z: b zeros; p: patch 2 bytes at a
  std::uint64_t a, b;
};
struct PieceCase {
  const char *name;
  std::vector<PieceStep> steps;
  friend void PrintTo(const PieceCase &c, std::ostream *os) { *os << c.name; }
};
class NewFilePieces : public ::testing::TestWithParam<PieceCase> {};

// A file that takes the pieces until its `failAt`th call (a disk that fills).
struct FillingSink final : ContentSink {
  std::span<const std::uint8_t> old;
  int failAt = -1, calls = 0;
  Bytes out;
  Status Step() { return calls++ == failAt ? Status(Fail("the disk is full")) : Ok(); }
  Status Write(std::span<const std::uint8_t> bytes) override {
    QM_RETURN_IF_ERROR(Step());
    out.insert(out.end(), bytes.begin(), bytes.end());
    return Ok();
  }
  Status CopyHeld(std::uint64_t from, std::uint64_t length) override {
    return Write(old.subspan(static_cast<std::size_t>(from), static_cast<std::size_t>(length)));
  }
  Status WriteAt(std::uint64_t at, std::span<const std::uint8_t> bytes) override {
    QM_RETURN_IF_ERROR(Step());
    std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
    return Ok();
  }
};

TEST_P(NewFilePieces, GiveTheBytesOfTheStepsInOrder) {
  Bytes old(64);
  for (std::size_t i = 0; i < old.size(); ++i)
    old[i] = static_cast<std::uint8_t>(i * 7 + 1);
  NewFile file;
  Bytes expected;
  std::vector<std::pair<const PieceStep *, std::uint64_t>> copies;
  for (const PieceStep &step : GetParam().steps) {
    if (step.kind == 'c') {
      copies.emplace_back(&step, expected.size());
      file.Copy(step.a, step.b);
      expected.insert(expected.end(), old.begin() + step.a, old.begin() + step.a + step.b);
    } else if (step.kind == 'n') {
      file.Append(Bytes(step.b, static_cast<std::uint8_t>(step.a)));
      expected.insert(expected.end(), step.b, static_cast<std::uint8_t>(step.a));
    } else if (step.kind == 'z') {
      file.Zeros(step.b);
      expected.insert(expected.end(), step.b, 0);
    } else {
      const std::uint8_t patch[] = {0xEE, 0xEF};
      file.Patch(step.a, patch);
      std::copy(std::begin(patch), std::end(patch), expected.begin() + step.a);
    }
  }
  EXPECT_EQ(file.Size(), expected.size());
  const auto built = file.Materialize(MemorySource(old));
  ASSERT_TRUE(built) << built.error();
  EXPECT_EQ(*built, expected);
  for (const auto &[step, at] : copies)
    EXPECT_EQ(file.Map(step->a, step->b), at) << "the copy of " << step->a << "+" << step->b;

  // Written as a file, the same bytes; a failure at any piece is the
  // result, however many pieces went before.
  FillingSink whole;
  whole.old = old;
  ASSERT_TRUE(file.WriteTo(whole));
  EXPECT_EQ(whole.out, expected);
  for (int k = 0; k < whole.calls; ++k) {
    FillingSink sink;
    sink.old = old, sink.failAt = k;
    EXPECT_FALSE(file.WriteTo(sink)) << "the disk filled at call " << k;
  }
  EXPECT_FALSE(file.ForEachChunk(MemorySource(old), [](auto) { return Status(Fail("stopped")); }));
  if (!copies.empty()) {
    EXPECT_FALSE(file.Materialize(MemorySource(std::span<const std::uint8_t>()))) << "kept bytes that cannot be read";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NewFilePieces,
    ::testing::Values(PieceCase{"ZerosAfterKeptBytes", {{'c', 0, 8}, {'z', 0, 4}, {'c', 8, 2}}},
                      PieceCase{"ZerosAfterNewBytes", {{'n', 7, 3}, {'z', 0, 5}, {'n', 9, 1}}},
                      PieceCase{"KeptAfterZeros", {{'z', 0, 3}, {'c', 16, 4}, {'z', 0, 2}}},
                      PieceCase{"KeptRangesNextToEachOther", {{'c', 0, 4}, {'c', 4, 4}, {'c', 20, 4}, {'c', 12, 4}}},
                      PieceCase{"KeptAfterNewBytes", {{'n', 9, 2}, {'c', 2, 3}, {'n', 5, 2}}},
                      PieceCase{"PatchAcrossPieces", {{'c', 0, 4}, {'z', 0, 4}, {'n', 3, 4}, {'p', 3, 0}, {'p', 7, 0}}}),
    [](const auto &info) { return std::string(info.param.name); });

// A module followed by zeros that exist only when read: a file of 4 GiB
// without 4 GiB of memory.
class ZeroPaddedSource final : public ByteSource {
public:
  ZeroPaddedSource(craft::Bytes module, std::uint64_t zeros) : module_(std::move(module)), zeros_(zeros) {}
  std::uint64_t Size() const override { return module_.size() + zeros_; }
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    if (!Has(offset, out.size())) return false;
    std::fill(out.begin(), out.end(), 0);
    if (offset < module_.size()) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), module_.size() - offset));
      std::copy_n(module_.begin() + static_cast<std::ptrdiff_t>(offset), n, out.begin());
    }
    return true;
  }

private:
  craft::Bytes module_;
  std::uint64_t zeros_;
};

// The new module may be 4 GiB less one byte long, the most its 32-bit
// offsets reach, and no longer.
TEST(WriterLimits, NewModuleUpToFourGiBLessOneByte) {
  const Bytes module = craft::BuildImage(craft::OneResourceSection({{10, 2, 0, 0, Bytes(4, 2)}}));
  const Bytes block(0x5C, 0x42);
  auto compose = [&](std::uint64_t zeros) {
    auto update = ResourceUpdate::BeginFrom(std::make_shared<ZeroPaddedSource>(module, zeros));
    if (!update) return Result<NewFile>(update.failure());
    if (Status put = update->Put(kTypeVersion, 1, 0, block); !put) return Result<NewFile>(put.failure());
    return update->Compose();
  };
  const auto small = compose(0);
  ASSERT_TRUE(small.ok()) << small.error();
  const std::uint64_t zeros = 0xFFFFFFFFu - small->Size();
  const auto largest = compose(zeros);
  ASSERT_TRUE(largest.ok()) << largest.error();
  EXPECT_EQ(largest->Size(), 0xFFFFFFFFu);
  const auto tooLarge = compose(zeros + 1);
  ASSERT_FALSE(tooLarge.ok());
  EXPECT_EQ(tooLarge.kind(), ErrorKind::NoRoom);
  EXPECT_NE(tooLarge.error().find("exceed 0xffffffff"), std::string::npos) << tooLarge.error();
}

// A resource section holds less than 2 GiB, and its addresses end within
// 32 bits: sizes on either side of each limit, with data left in a file.
TEST(WriterLimits, ResourceSectionBelowTwoGiBAndWithinTheAddresses) {
  const auto file = std::make_shared<ZeroPaddedSource>(craft::Bytes{}, std::uint64_t{1} << 32);
  auto section = [&](std::uint64_t dataSize, std::uint32_t rva) {
    const std::vector<ResourceItem> items = {
        {10, 1, 0, 0, LeafBytes(std::make_shared<const Blob>(file, 0, dataSize), 0, dataSize)}};
    return LayResourceSection(items, rva);
  };
  const auto small = section(0x10000, 0x1000);
  ASSERT_TRUE(small.ok()) << small.error();
  const std::uint64_t head = small->Size() - 0x10000;
  struct Case {
    std::uint64_t dataSize;
    std::uint32_t rva;
    bool fits;
  };
  for (const Case c : {Case{0x80000000u - head - 8, 0x1000, true}, Case{0x80000000u - head, 0x1000, false},
                       Case{0x10000, static_cast<std::uint32_t>(0xFFFFFFFFu - small->Size()), true},
                       Case{0x10000, static_cast<std::uint32_t>(0x100000000u - small->Size()), false}}) {
    const auto laid = section(c.dataSize, c.rva);
    EXPECT_EQ(laid.ok(), c.fits) << c.dataSize << " bytes at " << c.rva << ": " << (laid ? "" : laid.error());
    if (!c.fits) EXPECT_EQ(laid.kind(), ErrorKind::NoRoom);
  }
}

} // namespace
} // namespace qm::pe::test
