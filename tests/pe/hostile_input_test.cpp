// Damaged and hostile modules: a clean error, never a crash, a hang or a
// read out of bounds (these run under ASan/UBSan too).
#include <gtest/gtest.h>

#include "base/byte_reader.h"
#include "pe/byte_source.h"
#include "pe/resource_update.h"
#include "pe/version_reader.h"
#include "stamp_promises.h"
#include "test_support.h"

namespace qm::pe::test {
namespace {

constexpr std::size_t kSection = 0x200; // file offset of MinimalImage's resource section

std::vector<ResourceItem> SampleItems() {
  std::vector<ResourceItem> items;
  items.push_back({16, 1, 0x0409, 1252, Bytes(40, 0x11)});
  items.push_back({ResourceId::Named(u"TYPE"), ResourceId::Named(u"NAME"), 0, 0, Bytes(3, 0x22)});
  items.push_back({10, 7, 0, 0, Bytes(9, 0x33)});
  return items;
}

TEST(HostileInput, EveryTruncationOfASmallImageFails) {
  const auto items = SampleItems();
  const Bytes image = MinimalImage(items);
  ASSERT_TRUE(ReadVersionResource(MemorySource(image), 0).ok());
  for (std::size_t n = 0; n < image.size(); ++n) {
    const std::span<const std::uint8_t> prefix(image.data(), n);
    // Cut inside the last 512-byte sector, the module is still mapped (the
    // loader reads the sector whole, zeros past the end): read, not stamped.
    if (AlignUp(n, 512) < image.size()) {
      EXPECT_FALSE(ReadVersionResource(MemorySource(prefix), 0).ok()) << n;
    }
    EXPECT_FALSE(ResourceUpdate::BeginInMemory(Bytes(prefix.begin(), prefix.end())).ok()) << n;
  }
  // At the DOS header's edge the reason changes: 63 bytes are no DOS
  // header, 64 are one whose PE header is missing.
  const struct {
    std::size_t size;
    const char *reason;
  } edges[] = {{63, "shorter than a DOS header"}, {64, "PE header offset 0x40 is past the end"}};
  for (const auto &e : edges) {
    const auto read = ReadVersionResource(MemorySource(std::span(image.data(), e.size)), 0);
    ASSERT_FALSE(read.ok()) << e.size;
    EXPECT_NE(read.error().find(e.reason), std::string::npos) << read.error();
  }
}

TEST(HostileInput, EveryTruncationOfARealModuleFails) {
  if (!HaveModules()) GTEST_SKIP() << "mingw-w64 is not installed: no test modules";
  const Bytes image = ReadBytes(ModulePath("app32_reloc.exe"));
  const std::uint64_t imageEnd = Headers(image).ImageFileEnd();
  for (std::size_t n = 0; n < image.size(); ++n) {
    const std::span<const std::uint8_t> prefix(image.data(), n);
    auto found = ReadVersionResource(MemorySource(prefix), 0);
    if (AlignUp(n, 512) < imageEnd) {
      EXPECT_FALSE(found.ok()) << n;
    }
    if (n % 61 == 0) {
      EXPECT_FALSE(ResourceUpdate::BeginInMemory(Bytes(prefix.begin(), prefix.end())).ok()) << n;
    }
  }
}

// Edits of MinimalImage's tree, each with the text its error must contain.
struct Damage {
  const char *name;
  std::size_t offset; // from the section's start
  std::uint32_t value;
  const char *error;
};

const Damage kDamages[] = {
    {"type entry leads back to the root", 16 + 4, 0x80000000u, "the tree loops"},
    {"type entry points past the end", 16 + 4, 0x8FFFFFF0u, "outside the resource section"},
    {"type entry points at data", 16 + 4, 0x00000010u, "data where a name directory belongs"},
    {"named type's string past the end", 16, 0x8FFFFF00u, "outside the resource section"},
    {"root claims 65535 entries", 12, 0xFFFF0000u, "run out of the resource section"},
    {"id wider than 16 bits", 16 + 8, 0x00010010u, "16 bits"},
    {"id one past 16 bits", 16 + 8, 0x00010000u, "id 65536 does not fit in 16 bits"},
};

class DamagedTree : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedTree, IsRefusedWithContext) {
  const auto items = SampleItems();
  Bytes image = MinimalImage(items);
  PutU32(image, kSection + GetParam().offset, GetParam().value);
  auto found = ReadVersionResource(MemorySource(image), 0);
  ASSERT_FALSE(found.ok());
  EXPECT_NE(found.error().find(GetParam().error), std::string::npos) << found.error();
  EXPECT_NE(found.error().find("resource"), std::string::npos) << found.error();
  EXPECT_FALSE(ResourceUpdate::BeginInMemory(image).ok());
}

INSTANTIATE_TEST_SUITE_P(Trees, DamagedTree, ::testing::ValuesIn(kDamages), [](const auto &info) {
  std::string name = info.param.name;
  for (char &c : name)
    c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
});

TEST(HostileInput, LanguageLevelDirectoryIsAFourthLevel) {
  // Root -> type -> name -> language directory; point the language entry
  // back at a directory.
  const std::vector<ResourceItem> items = {{16, 1, 0, 0, Bytes(4, 1)}};
  Bytes image = MinimalImage(items);
  // One of each: root 24 bytes, name directory 24, language directory 24.
  PutU32(image, kSection + 48 + 16 + 4, 0x80000000u | 48);
  auto found = ReadVersionResource(MemorySource(image), 0);
  ASSERT_FALSE(found.ok());
  EXPECT_NE(found.error().find("fourth level"), std::string::npos) << found.error();
}

TEST(HostileInput, LeafOutsideTheFileKeepsItsAddress) {
  const std::vector<ResourceItem> items = {{16, 1, 0, 0, Bytes(4, 1)}, {10, 2, 0, 0, Bytes(4, 2)}};
  Bytes image = MinimalImage(items);
  // The data entry of 16/1/0 is the second of the two; move it out of the
  // file. Layout: root 32, two name directories 24 each, two language
  // directories 24 each, then the data entries (10/2/0 first).
  const std::size_t entry = kSection + 32 + 48 + 48 + 16;
  PutU32(image, entry, 0x7000);
  auto found = ReadVersionResource(MemorySource(image), 0);
  ASSERT_FALSE(found.ok());
  EXPECT_NE(found.error().find("no section"), std::string::npos) << found.error();

  auto update = ResourceUpdate::BeginInMemory(image);
  ASSERT_TRUE(update.ok()) << update.error();
  // The update keeps the leaf; reading it gives the one verdict.
  const ResourceItem *held = update->Find(16, 1, 0);
  ASSERT_NE(held, nullptr);
  const auto read = ReadHeldResource(*update, *held);
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.error(), found.error());
  ASSERT_TRUE(update->Put(16, 1, 0x0409, Bytes(8, 3)).ok());
  const auto composedImage = ComposedBytes(*update);
  ASSERT_TRUE(composedImage.ok()) << composedImage.error();
  auto leaves = ParseResourceTree(MemorySource(*composedImage), Headers(*composedImage));
  ASSERT_TRUE(leaves.ok()) << leaves.error();
  const auto kept = std::find_if(leaves->begin(), leaves->end(),
                                 [](const ResourceLeaf &l) { return l.type == ResourceId(16) && l.language == 0; });
  ASSERT_NE(kept, leaves->end());
  EXPECT_EQ(kept->dataRva, 0x7000u);
  EXPECT_EQ(kept->size, 4u);
  EXPECT_FALSE(kept->backed);
}

TEST(HostileInput, NoRoomForASectionHeaderIsRefused) {
  const std::vector<ResourceItem> items = {{16, 1, 0, 0, Bytes(4, 1)}};
  Bytes image = MinimalImage(items);
  // Drop the resource directory so a new section is needed, and fill the
  // space after the section table.
  const PeHeaders headers = Headers(image);
  PutU32(image, headers.DirectoryOffset(kDirResource), 0);
  PutU32(image, headers.DirectoryOffset(kDirResource) + 4, 0);
  const std::size_t tableEnd = headers.SectionTableOffset() + kSectionHeaderSize;
  std::fill(image.begin() + static_cast<std::ptrdiff_t>(tableEnd), image.begin() + 0x200, 0xAB);
  auto update = ResourceUpdate::BeginInMemory(image);
  ASSERT_FALSE(update.ok());
  EXPECT_NE(update.error().find("no room for another section header"), std::string::npos) << update.error();
}

} // namespace
} // namespace qm::pe::test
