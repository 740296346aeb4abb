// A stamp writes the new module piece by piece, kept ranges copied from the
// held file (in the kernel when large): the file it leaves must be, byte for
// byte, the module the in-memory writer builds from the same input.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "fileio/file_io.h"
#include "pe/resource_id.h"
#include "pe/resource_update.h"
#include "stamp/module_injection.h"
#include "stamp_test_support.h"

namespace qm::stamp::test {
namespace {

// `image` with `data` stored under (type, name), as a module built with
// that resource would hold it.
Bytes WithResource(const Bytes &image, std::uint16_t type, const Bytes &data) {
  auto update = pe::ResourceUpdate::BeginInMemory(image);
  if (!update || !update->Put(pe::ResourceId(type), pe::ResourceId(2), 0x0409, data)) return {};
  return InMemory(*update);
}

struct Shape {
  const char *name;
  std::function<Bytes()> module;
  std::size_t blockSize;
  friend void PrintTo(const Shape &s, std::ostream *os) { *os << s.name; }
};

class StreamedStamp : public ::testing::TestWithParam<std::tuple<Shape, bool>> {};

TEST_P(StreamedStamp, LeavesWhatTheInMemoryWriterBuilds) {
  const auto &[shape, unnamed] = GetParam();
  const Bytes original = shape.module();
  ASSERT_FALSE(original.empty());
  const Bytes block = Noise(shape.blockSize, 7);
  auto expected = pe::ResourceUpdate::BeginInMemory(original);
  ASSERT_TRUE(expected.ok()) << expected.error();
  ASSERT_TRUE(expected->Put(pe::ResourceId(pe::kTypeVersion), pe::ResourceId(1), 0, block).ok());
  const Bytes expectedBytes = InMemory(*expected);
  ASSERT_FALSE(expectedBytes.empty());

  ScratchDir dir;
  WriteBytes(dir / "m.exe", original);
  fileio::AllowUnnamedNewFiles(unnamed);
  const Status stored = StoreVersionResource(dir / "m.exe", "m.exe", block);
  fileio::AllowUnnamedNewFiles(true);
  ASSERT_TRUE(stored) << stored.error();
  EXPECT_TRUE(ReadBytes(dir / "m.exe") == expectedBytes) << "the streamed module differs";
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"m.exe"});
}

INSTANTIATE_TEST_SUITE_P(
    Files, StreamedStamp,
    ::testing::Combine(
        ::testing::Values(
            Shape{"NewSection", [] { return SmallModule(); }, 0x5C},
            // Data after the image moves with it, copied whole.
            Shape{"LargeTail", [] { return Concat(SmallModule(), Noise(300 * 1024 + 3, 1)); }, 0x5C},
            // The section is rebuilt around a large resource left in the file.
            Shape{"LargeResourceKept", [] { return WithResource(SmallModule(), 10, Noise(300 * 1024 + 5, 2)); }, 0x5C},
            Shape{"LargeBlock", [] { return WithResource(SmallModule(), 10, Noise(100, 3)); }, 200 * 1024 + 1}),
        ::testing::Bool()),
    [](const auto &info) {
      return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "Unnamed" : "Named");
    });

// Large data left in the file keeps its place within a 4 KiB block, so a
// file system with shared extents can share it rather than copy it.
TEST(StreamedStamp, LargeKeptDataKeepsItsPlaceInABlock) {
  // 64 KiB is large already.
  for (const auto &[payloadSize, blockSize] :
       {std::pair<std::size_t, std::size_t>{200 * 1024, 0x5C}, {200 * 1024, 0x1235}, {64 * 1024, 0x5C}}) {
    const Bytes payload = Noise(payloadSize, 4);
    const Bytes original = WithResource(SmallModule(), 10, payload);
    ScratchDir dir;
    WriteBytes(dir / "m.exe", original);
    ASSERT_TRUE(StoreVersionResource(dir / "m.exe", "m.exe", Noise(blockSize, 5)));
    const Bytes stamped = ReadBytes(dir / "m.exe");
    const auto before = std::search(original.begin(), original.end(), payload.begin(), payload.end());
    const auto after = std::search(stamped.begin(), stamped.end(), payload.begin(), payload.end());
    ASSERT_TRUE(before != original.end() && after != stamped.end());
    EXPECT_EQ((before - original.begin()) % 4096, (after - stamped.begin()) % 4096)
        << "data " << payloadSize << ", block " << blockSize;
  }
}

} // namespace
} // namespace qm::stamp::test
