// Reading a file through the one-page cache: every range, wherever it falls
// against the 64 KiB pages and the end of the file, gives the file's bytes
// or a refusal, never stale or foreign bytes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "pe/byte_source.h"
#include "stamp/module_file.h"
#include "test_support.h"

namespace qm::pe::test {
namespace {

constexpr std::uint64_t kPage = 64 * 1024;

Bytes Pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 13 + i / 256);
  return bytes;
}

struct ReadCase {
  const char *name;
  std::uint64_t offset, length;
};

TEST(ModuleFile, ReadsAgreeWithTheFileAcrossPagesAndAtItsEnd) {
  const Bytes content = Pattern(3 * kPage + 5);
  const auto path = ScratchDir("file_source") / "module.bin";
  WriteBytes(path, content);
  auto source = stamp::ModuleFile::Open(path);
  ASSERT_TRUE(source.ok()) << source.error();
  const stamp::ModuleFile &file = **source;
  EXPECT_EQ(file.Size(), content.size());
  const std::uint64_t size = content.size();
  // In an order that makes the cache move forwards, backwards and stay.
  const ReadCase reads[] = {
      {"start", 0, 16},
      {"across the first page end", kPage - 3, 7},
      {"back in the first page", 100, 4},
      {"three pages at once", 10, 2 * kPage + 20},
      {"last whole page", 2 * kPage, kPage},
      {"the last bytes", size - 2, 2},
      {"nothing at the end", size, 0},
      {"one byte past the end", size - 1, 2},
      {"starting past the end", size + 1, 1},
      {"far past the end", ~std::uint64_t{0} - 1, 4},
  };
  for (const ReadCase &r : reads) {
    const bool inside = r.offset <= size && r.length <= size - r.offset;
    Bytes out(static_cast<std::size_t>(inside ? r.length : 4), 0xA5);
    EXPECT_EQ(file.ReadAt(r.offset, out), inside) << r.name;
    if (inside) {
      EXPECT_TRUE(std::equal(out.begin(), out.end(), content.begin() + static_cast<std::ptrdiff_t>(r.offset)))
          << r.name;
    }
  }
  EXPECT_EQ(file.U16(kPage - 1), content[kPage - 1] | content[kPage] << 8);
  EXPECT_EQ(file.U32(size - 4), content[size - 4] | content[size - 3] << 8 | content[size - 2] << 16 |
                                    static_cast<std::uint32_t>(content[size - 1]) << 24);
  EXPECT_FALSE(file.U32(size - 3));
  EXPECT_FALSE(file.U16(size - 1));
  EXPECT_EQ(file.Bytes(size - 5, 5), Bytes(content.end() - 5, content.end()));
  EXPECT_FALSE(file.Bytes(size - 5, 6));
  EXPECT_FALSE(file.Bytes(1, ~std::uint64_t{0})) << "a length no file has is refused before anything is held";
}

// A source that records what the cache asks of it.
class RecordingSource final : public PagedSource {
public:
  explicit RecordingSource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  mutable std::vector<std::pair<std::uint64_t, std::size_t>> asked;

private:
  bool ReadDirect(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    asked.emplace_back(offset, out.size());
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    return true;
  }
  std::vector<std::uint8_t> bytes_;
};

// Small reads load whole pages, once each; a page or more goes straight to
// the file, never through the cache.
TEST(PagedSource, LoadsPagesOnceAndPassesLargeReadsStraight) {
  RecordingSource source(Pattern(3 * kPage + 5));
  Bytes small(7), large(kPage), tail(5);
  EXPECT_TRUE(source.ReadAt(kPage - 3, small));
  EXPECT_TRUE(source.ReadAt(kPage + 10, small));
  EXPECT_TRUE(source.ReadAt(5, large));
  EXPECT_TRUE(source.ReadAt(3 * kPage, tail));
  const std::vector<std::pair<std::uint64_t, std::size_t>> expected = {
      {0, kPage}, {kPage, kPage}, {5, kPage}, {3 * kPage, 5}};
  EXPECT_EQ(source.asked, expected);
}

// The reader at offsets refuses everything but a regular file, naming the
// path once; a pipe is read whole by the file layer instead.
TEST(ModuleFile, RefusesWhatIsNotARegularFile) {
  const auto dir = ScratchDir("module_file_refusals");
  const auto fifo = dir / "module.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const auto &[path, message] :
       {std::pair{fifo, "it is not a regular file"}, std::pair{dir, "it is not a regular file"},
        std::pair{dir / "none.dll", "it does not exist"}}) {
    auto source = stamp::ModuleFile::Open(path);
    ASSERT_FALSE(source.ok()) << path;
    EXPECT_EQ(source.error(), path.string() + ": " + message);
  }
}

TEST(MemorySource, RefusesRangesOutsideIt) {
  const Bytes content = Pattern(10);
  const MemorySource source(content);
  Bytes out(4);
  EXPECT_TRUE(source.ReadAt(6, out));
  EXPECT_EQ(out, Bytes(content.begin() + 6, content.end()));
  EXPECT_FALSE(source.ReadAt(7, out));
  EXPECT_TRUE(source.ReadAt(10, std::span<std::uint8_t>()));
  EXPECT_FALSE(source.ReadAt(11, std::span<std::uint8_t>()));
  EXPECT_EQ(source.U16(8), content[8] | content[9] << 8);
  EXPECT_FALSE(source.U16(9));
}

} // namespace
} // namespace qm::pe::test
