// Resource trees and leaves damaged past the header checks, and updates
// used past their end: each refused with its reason.
#include <gtest/gtest.h>

#include <functional>

#include "base/byte_reader.h"
#include "pe/byte_source.h"
#include "pe/resource_update.h"
#include "pe/section_writer.h"
#include "pe/version_reader.h"
#include "stamp/image_stamp.h"
#include "stamp_promises.h"
#include "test_support.h"

namespace qm::pe::test {
namespace {

constexpr std::size_t kSection = 0x200, kTable = 0x40 + 24 + 0xE0;

// Sorted, the tree holds "TYPE"/"NAME"/0, 10/7/0 and 16/1/0x0409: the root
// (40 bytes), three name directories and three language directories (24
// bytes each, from 40 and 112), data entries at 184, 200 and 216, the
// string "TYPE" at 232 and "NAME" at 242.
std::vector<ResourceItem> Items() {
  return {{16, 1, 0x0409, 1252, Bytes(40, 0x11)},
          {ResourceId::Named(u"TYPE"), ResourceId::Named(u"NAME"), 0, 0, Bytes(3, 0x22)},
          {10, 7, 0, 0, Bytes(9, 0x33)}};
}

struct LeafDamage {
  const char *name;
  std::function<void(Bytes &)> change;
  const char *error;
};
class DamagedLeaves : public ::testing::TestWithParam<LeafDamage> {};
TEST_P(DamagedLeaves, AreRefusedWithTheirReason) {
  Bytes image = MinimalImage(Items());
  ASSERT_EQ(*ByteReader(image).u16(kSection + 232), 4) << "the tree is not laid out as described";
  GetParam().change(image);
  auto found = ReadVersionResource(MemorySource(image), 0);
  ASSERT_FALSE(found.ok());
  EXPECT_NE(found.error().find(GetParam().error), std::string::npos) << found.error();
}
INSTANTIATE_TEST_SUITE_P(
    Table, DamagedLeaves,
    ::testing::Values(LeafDamage{"NamedLanguage", [](Bytes &b) { PutU32(b, kSection + 128, 0x80000000u | 232); },
                                 "a language must be an integer id"},
                      LeafDamage{"NameLongerThanTheSection", [](Bytes &b) { PutU16(b, kSection + 232, 0xFFFF); },
                                 "characters) runs out of the resource section"},
                      LeafDamage{"DataEntryOutsideTheSection", [](Bytes &b) { PutU32(b, kSection + 132, 0x7FFFFFF0); },
                                 "is outside the resource section"},
                      LeafDamage{"ResourceDirectoryOutsideTheSections",
                                 [](Bytes &b) { PutU32(b, 0x40 + 24 + 96 + 16, 0x9000); },
                                 "is not in the file's sections"},
                      // The version leaf's data: past the mapped end of its section, and
                      // far past its file data.
                      LeafDamage{"DataRunningPastItsSection",
                                 [](Bytes &b) {
                                   const std::uint32_t end = 0x1000 + *ByteReader(b).u32(kTable + 8);
                                   PutU32(b, kSection + 216, end - 4);
                                 },
                                 "runs past its section"},
                      LeafDamage{"HugeDataWithoutFileBytes",
                                 [](Bytes &b) {
                                   PutU32(b, kTable + 8, 0x10000000);
                                   PutU32(b, kSection + 216, 0x2000);
                                   PutU32(b, kSection + 220, 0x08000000);
                                 },
                                 "bytes of unwritten data is too large"}),
    [](const auto &info) { return std::string(info.param.name); });

// A file cut short while it is read (another program truncating it): the
// headers were whole, the version leaf's bytes can no longer be read.
class CutShortSource final : public ByteSource {
public:
  CutShortSource(std::span<const std::uint8_t> data, std::uint64_t cut) : whole_(data), cut_(cut) {}
  std::uint64_t Size() const override { return whole_.Size(); }
  bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    return offset + out.size() <= cut_ && whole_.ReadAt(offset, out);
  }

private:
  MemorySource whole_;
  std::uint64_t cut_;
};

TEST(DamagedResources, LeafBytesThatCannotBeReadAreRefused) {
  const Bytes image = MinimalImage(Items());
  const std::uint64_t versionData = *ByteReader(image).u32(kSection + 216) - 0x1000 + kSection;
  auto found = ReadVersionResource(CutShortSource(image, versionData + 1), 0);
  ASSERT_FALSE(found.ok());
  EXPECT_EQ(found.kind(), ErrorKind::Damaged);
  EXPECT_NE(found.error().find("resource 16/1/1033: cannot read its 40 bytes"), std::string::npos) << found.error();
  EXPECT_TRUE(ReadVersionResource(CutShortSource(image, image.size()), 0).ok());
}

// The same cut in the data after the image, met only when the new module
// is summed for its checksum: the composition fails, it does not go on.
TEST(DamagedResources, ModuleCutWhileComposedIsAnError) {
  Bytes image = MinimalImage(Items());
  const std::size_t end = image.size();
  image.resize(end + 0x40, 0xAB);
  auto update = ResourceUpdate::BeginFrom(std::make_shared<CutShortSource>(image, end + 0x20));
  ASSERT_TRUE(update.ok()) << update.error();
  ASSERT_TRUE(update->Put(16, 1, 0x0409, Bytes(6, 0x55)).ok());
  const auto composed = update->Compose();
  ASSERT_FALSE(composed.ok());
  EXPECT_NE(composed.error().find("cannot read"), std::string::npos) << composed.error();
}

TEST(DamagedResources, SameKeyTwiceIsRefused) {
  std::vector<ResourceItem> items = Items();
  items.push_back({16, 1, 0x0407, 0, Bytes(4, 0x44)});
  auto built = BuildResourceSection(std::vector<ResourceItem>{items[0], items[0]}, 0x1000);
  ASSERT_FALSE(built.ok());
  EXPECT_NE(built.error().find("16/1/1033 is stored twice"), std::string::npos) << built.error();
  // The 0x0407 language entry of 16/1 renamed to 0x0409.
  Bytes image = MinimalImage(items);
  const std::size_t entry = kSection + 112 + 48 + 16;
  ASSERT_EQ(*ByteReader(image).u32(entry), 0x0407u);
  PutU32(image, entry, 0x0409);
  auto update = ResourceUpdate::BeginInMemory(image);
  ASSERT_FALSE(update.ok());
  EXPECT_NE(update.error().find("appears twice"), std::string::npos) << update.error();
}

TEST(DamagedResources, NamesLongerThanADirectoryHoldsAreRefused) {
  auto update = ResourceUpdate::BeginInMemory(MinimalImage(Items()));
  ASSERT_TRUE(update.ok()) << update.error();
  const std::u16string longest(0xFFFF, u'n');
  EXPECT_TRUE(update->Put(ResourceId::Named(longest), 1, 0, Bytes(1, 1)).ok());
  EXPECT_FALSE(update->Put(ResourceId::Named(longest + u'n'), 1, 0, Bytes(1, 1)).ok());
  const Status tooLong = update->Put(1, ResourceId::Named(longest + u'n'), 0, Bytes(1, 1));
  ASSERT_FALSE(tooLong.ok());
  EXPECT_EQ(tooLong.kind(), ErrorKind::NoRoom) << "a stamp reports it as a module it cannot stamp";
}

// A delete moves another entry in the update's list: a later put of that
// key still replaces it rather than storing it twice.
TEST(DamagedResources, PutAfterDeleteReplacesTheMovedEntry) {
  auto update = ResourceUpdate::BeginInMemory(MinimalImage(Items()));
  ASSERT_TRUE(update.ok()) << update.error();
  ASSERT_TRUE(update->Delete(ResourceId::Named(u"TYPE"), ResourceId::Named(u"NAME"), 0).ok());
  ASSERT_TRUE(update->Put(16, 1, 0x0409, Bytes(6, 0x55)).ok());
  ASSERT_TRUE(update->Put(16, 1, 0x0409, Bytes(5, 0x66)).ok());
  ASSERT_EQ(update->Items().size(), 2u);
  const auto composedImage = ComposedBytes(*update);
  ASSERT_TRUE(composedImage.ok()) << composedImage.error();
  auto found = ReadVersionResource(MemorySource(*composedImage), 0x0409);
  ASSERT_TRUE(found.ok() && found->has_value()) << (found.ok() ? "none" : found.error());
  EXPECT_EQ((*found)->bytes, Bytes(5, 0x66));
  EXPECT_TRUE((*found)->otherLanguages.empty());
}

// Data left in the file is read only when it is needed; a range that cannot
// be read then gives no bytes, and a section that needs them is refused.
TEST(DamagedResources, DataThatCannotBeReadIsNeverWritten) {
  const auto source = std::make_shared<const OwnedSource>(Bytes(16, 7));
  const LeafBytes leaf(std::make_shared<const Blob>(source, 8, 32), 0, 32);
  EXPECT_TRUE(leaf.Span().empty());
  EXPECT_TRUE(LeafBytes().Span().empty());
  const std::vector<ResourceItem> items = {{10, 1, 0, 0, leaf}};
  const auto built = BuildResourceSection(items, 0x1000);
  ASSERT_FALSE(built.ok());
  EXPECT_NE(built.error().find("cannot read"), std::string::npos) << built.error();
}

// The section ends at the first multiple of eight after its data.
TEST(ResourceSectionSize, IsTheDataRoundedUpToEight) {
  const auto size = [](std::size_t n) {
    const std::vector<ResourceItem> items = {{10, 1, 0, 0, Bytes(n, 1)}};
    auto built = BuildResourceSection(items, 0x1000);
    return built ? built->size() : 0;
  };
  for (std::size_t n = 1; n <= 8; ++n) {
    EXPECT_EQ(size(n) % 8, 0u) << n;
    EXPECT_EQ(size(n), size(1)) << n;
    EXPECT_EQ(size(n + 8), size(n) + 8) << n;
  }
}

// A directory counts its entries in 16 bits: 65535 types, names under one
// type, or languages under one name still fit; one more is refused, not
// wrapped.
TEST(DamagedResources, DirectoryEntryCountsStopAt65535) {
  enum Level { kTypes, kNames, kLanguages };
  const auto build = [](std::size_t count, Level level) {
    std::vector<ResourceItem> items(count);
    for (std::size_t i = 0; i < count; ++i) {
      const auto id = static_cast<std::uint16_t>(i);
      items[i] = level == kTypes   ? ResourceItem{id, 1, 0, 0, {}}
                 : level == kNames ? ResourceItem{10, id, 0, 0, {}}
                                   : ResourceItem{10, 1, id, 0, {}};
    }
    return BuildResourceSection(items, 0x1000);
  };
  // Where the full directory's count of id entries stands: the root, the
  // one type's name directory, the one name's language directory.
  const struct {
    Level level;
    std::size_t countAt;
  } cases[] = {{kTypes, 14}, {kNames, 24 + 14}, {kLanguages, 48 + 14}};
  for (const auto &c : cases) {
    auto fits = build(0xFFFF, c.level);
    EXPECT_TRUE(fits.ok()) << fits.error();
    if (fits) {
      EXPECT_EQ(*ByteReader(*fits).u16(c.countAt), 0xFFFF) << c.level;
    }
    auto tooMany = build(0x10000, c.level);
    ASSERT_FALSE(tooMany.ok()) << c.level;
    EXPECT_NE(tooMany.error().find("more than"), std::string::npos) << tooMany.error();
  }
}

// A tree in a module can count entries in both of a directory's counts,
// or reach one name through several entries: more types, names under a
// type, or languages under a name than a directory can hold are refused
// when the module is read, not when it is written.
TEST(DamagedResources, ReadTreesPastTheEntryCountsAreRefused) {
  constexpr std::uint32_t kRva = 0x1000, kHigh = 0x80000000u, kNamed = ~0u;
  struct Entry {
    std::uint32_t id; // or kNamed
    int to;           // a directory's index, or -1 for the one data entry
  };
  using Directory = std::vector<Entry>;
  const auto image = [&](const std::vector<Directory> &dirs) {
    std::vector<std::uint32_t> at;
    std::uint32_t end = 0;
    for (const Directory &d : dirs) {
      at.push_back(end);
      end += 16 + 8 * static_cast<std::uint32_t>(d.size());
    }
    const std::uint32_t dataEntry = end, name = end + 16, data = name + 4;
    Bytes tree(data + 4, 0);
    for (std::size_t i = 0; i < dirs.size(); ++i) {
      const auto named = std::count_if(dirs[i].begin(), dirs[i].end(), [&](const Entry &e) { return e.id == kNamed; });
      PutU16(tree, at[i] + 12, static_cast<std::uint16_t>(named));
      PutU16(tree, at[i] + 14, static_cast<std::uint16_t>(dirs[i].size() - static_cast<std::size_t>(named)));
      for (std::size_t k = 0; k < dirs[i].size(); ++k) {
        const Entry &e = dirs[i][k];
        PutU32(tree, at[i] + 16 + 8 * k, e.id == kNamed ? kHigh | name : e.id);
        PutU32(tree, at[i] + 20 + 8 * k, e.to < 0 ? dataEntry : kHigh | at[static_cast<std::size_t>(e.to)]);
      }
    }
    PutU32(tree, dataEntry, kRva + data);
    PutU32(tree, dataEntry + 4, 4);
    PutU16(tree, name, 1);
    PutU16(tree, name + 2, 'N');
    // Room enough that the tree's shared directories are not taken for a
    // tree that reaches more entries than its section could hold apart.
    const std::vector<ResourceItem> room = {{10, 1, 0, 0, Bytes(tree.size() + (2u << 20), 0)}};
    Bytes module = MinimalImage(room);
    std::copy(tree.begin(), tree.end(), module.begin() + 0x200);
    return module;
  };
  // `count` entries: one named, then ids from 0, the version's type left out.
  const auto many = [&](std::uint32_t count, int to) {
    Directory d = {{kNamed, to}};
    for (std::uint32_t id = 0; d.size() < count; ++id)
      if (id != kTypeVersion) d.push_back({id, to});
    return d;
  };
  const auto ids = [&](std::uint32_t from, std::uint32_t to) {
    Directory d;
    for (std::uint32_t id = from; id < to; ++id)
      d.push_back({id, -1});
    return d;
  };
  const std::function<std::vector<Directory>(std::uint32_t)> trees[] = {
      [&](std::uint32_t n) {
        return std::vector<Directory>{many(n, 1), {{1, 2}}, {{0, -1}}};
      },
      [&](std::uint32_t n) {
        return std::vector<Directory>{{{10, 1}}, many(n, 2), {{0, -1}}};
      },
      // The name 1 twice, its languages split between the two.
      [&](std::uint32_t n) {
        return std::vector<Directory>{{{10, 1}}, {{1, 2}, {1, 3}}, ids(0, n / 2), ids(n / 2, n)};
      },
  };
  for (std::size_t level = 0; level < std::size(trees); ++level) {
    const auto fits = ResourceUpdate::BeginInMemory(image(trees[level](0xFFFF)));
    EXPECT_TRUE(fits.ok()) << level << ": " << fits.error();
    const auto tooMany = ResourceUpdate::BeginInMemory(image(trees[level](0x10000)));
    ASSERT_FALSE(tooMany.ok()) << level;
    EXPECT_NE(tooMany.error().find("the 65535 entries a directory can"), std::string::npos) << tooMany.error();
  }
  // A stamp that would add a 65536th type says so and writes nothing.
  const auto stamped = stamp::StampImage(std::make_shared<const OwnedSource>(image(trees[0](0xFFFF))), "m.exe",
                                         stamp::PutVersionResource(Bytes(8, 1)), {});
  ASSERT_FALSE(stamped.ok());
  EXPECT_NE(stamped.error().find("'m.exe' cannot be stamped: more than 65535 resource types"), std::string::npos)
      << stamped.error();
}

} // namespace
} // namespace qm::pe::test
