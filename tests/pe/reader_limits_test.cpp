// Limits of the module reader met exactly: one past is refused, at the
// limit is read.
#include <gtest/gtest.h>

#include <functional>

#include "base/byte_reader.h"
#include "crafted_modules.h"
#include "pe/byte_source.h"
#include "pe/resource_update.h"
#include "pe/text.h"
#include "pe/version_reader.h"
#include "stamp/module_file.h"
#include "test_support.h"

namespace qm::pe::test {
namespace {

using craft::Bytes;

// A resource tree of type 16 whose `names` named entries each point at a
// name of 65535 units. The names overlap (each starts two bytes after the
// previous one), so the module stays small while the reader must hold
// every name apart.
Bytes ManyLongNames(std::uint32_t names) {
  const std::uint32_t rootAt = 0, nameDirAt = 0x18;
  const std::uint32_t languageDirsAt = nameDirAt + 16 + 8 * names;
  const std::uint32_t dataEntryAt = languageDirsAt + 24 * names;
  const std::uint32_t textAt = dataEntryAt + 16;
  const std::uint32_t textUnits = 0xFFFF + names + 1;
  // The first `names` units are lengths of 65535; 'a' after them makes
  // each name differ from the next by one unit.
  Bytes tree(textAt + 2 * textUnits, 0);
  for (std::uint32_t u = 0; u < textUnits; ++u)
    PutU16(tree, textAt + 2 * u, u < names ? 0xFFFF : u'a');
  PutU16(tree, rootAt + 14, 1);
  PutU32(tree, rootAt + 16, 16);
  PutU32(tree, rootAt + 20, 0x80000000u | nameDirAt);
  PutU16(tree, nameDirAt + 12, static_cast<std::uint16_t>(names));
  for (std::uint32_t i = 0; i < names; ++i) {
    PutU32(tree, nameDirAt + 16 + 8 * i, 0x80000000u | (textAt + 2 * i));
    PutU32(tree, nameDirAt + 20 + 8 * i, 0x80000000u | (languageDirsAt + 24 * i));
    const std::uint32_t dir = languageDirsAt + 24 * i;
    PutU16(tree, dir + 14, 1);
    PutU32(tree, dir + 20, dataEntryAt); // the language entry: id 0, one data entry shared by all
  }
  PutU32(tree, dataEntryAt, 0x1000); // four bytes of the tree itself
  PutU32(tree, dataEntryAt + 4, 4);

  craft::ImageShape shape;
  craft::SectionShape rsrc;
  rsrc.name = ".rsrc";
  rsrc.rva = 0x1000;
  rsrc.rawPointer = 0x200;
  rsrc.raw = tree;
  rsrc.raw.resize((tree.size() + 0x1FF) / 0x200 * 0x200, 0);
  rsrc.virtualSize = static_cast<std::uint32_t>(tree.size());
  shape.sections.push_back(rsrc);
  shape.directories[2] = {0x1000, rsrc.virtualSize};
  return craft::BuildImage(shape);
}

TEST(ReaderLimits, NamesHeldAtMostSixteenMebiUnits) {
  struct Case {
    std::uint32_t names;
    bool read;
  };
  // 256 names of 65535 units stay under 16 Mi units; 257 go over.
  for (const Case c : {Case{256, true}, Case{257, false}}) {
    SCOPED_TRACE(c.names);
    auto update = ResourceUpdate::BeginInMemory(ManyLongNames(c.names));
    ASSERT_EQ(update.ok(), c.read) << (update.ok() ? "read" : update.error().substr(0, 200));
    if (c.read)
      EXPECT_EQ(update->Items().size(), c.names);
    else
      EXPECT_NE(update.error().find("names are too large"), std::string::npos) << update.error();
  }
}

// The 16-bit counts bound each directory, not the tree: type 16 with two
// names of 32768 languages each holds 65536 leaves and is read whole.
TEST(ReaderLimits, MoreLeavesThanOneDirectoryHoldsAreRead) {
  constexpr std::uint32_t kLanguages = 0x8000;
  const std::uint32_t nameDirAt = 0x18, languageDirsAt = nameDirAt + 16 + 2 * 8;
  const std::uint32_t languageDirSize = 16 + 8 * kLanguages;
  const std::uint32_t dataEntryAt = languageDirsAt + 2 * languageDirSize;
  Bytes tree(dataEntryAt + 16, 0);
  PutU16(tree, 14, 1);
  PutU32(tree, 16, 16);
  PutU32(tree, 20, 0x80000000u | nameDirAt);
  PutU16(tree, nameDirAt + 14, 2);
  for (std::uint32_t n = 0; n < 2; ++n) {
    const std::uint32_t dir = languageDirsAt + n * languageDirSize;
    PutU32(tree, nameDirAt + 16 + 8 * n, n + 1);
    PutU32(tree, nameDirAt + 20 + 8 * n, 0x80000000u | dir);
    PutU16(tree, dir + 14, static_cast<std::uint16_t>(kLanguages));
    for (std::uint32_t l = 0; l < kLanguages; ++l) {
      PutU32(tree, dir + 16 + 8 * l, l);
      PutU32(tree, dir + 20 + 8 * l, dataEntryAt); // all share one data entry
    }
  }
  PutU32(tree, dataEntryAt, 0x1000);
  PutU32(tree, dataEntryAt + 4, 4);

  craft::ImageShape shape;
  craft::SectionShape rsrc;
  rsrc.name = ".rsrc";
  rsrc.rva = 0x1000;
  rsrc.rawPointer = 0x200;
  rsrc.virtualSize = static_cast<std::uint32_t>(tree.size());
  rsrc.raw = tree;
  rsrc.raw.resize((tree.size() + 0x1FF) / 0x200 * 0x200, 0);
  shape.sections.push_back(rsrc);
  shape.directories[2] = {0x1000, rsrc.virtualSize};
  auto update = ResourceUpdate::BeginInMemory(craft::BuildImage(shape));
  ASSERT_TRUE(update.ok()) << update.error();
  EXPECT_EQ(update->Items().size(), 2 * kLanguages);
}

// Four names share one language directory of four languages: 21 entries
// read (the shared directory counted under each name) in a section whose
// file bytes hold 168 bytes of entries apart, or one byte fewer.
TEST(ReaderLimits, EntriesReadAtMostWhatTheBytesHoldApart) {
  constexpr std::uint32_t kNames = 4, kLanguages = 4, kRead = 1 + kNames + kNames * kLanguages;
  const std::uint32_t nameDirAt = 0x18, languageDirAt = nameDirAt + 16 + 8 * kNames;
  const std::uint32_t dataEntryAt = languageDirAt + 16 + 8 * kLanguages;
  Bytes tree(dataEntryAt + 16 + 4, 0);
  PutU16(tree, 14, 1);
  PutU32(tree, 16, kTypeVersion);
  PutU32(tree, 20, 0x80000000u | nameDirAt);
  PutU16(tree, nameDirAt + 14, kNames);
  for (std::uint32_t n = 0; n < kNames; ++n) {
    PutU32(tree, nameDirAt + 16 + 8 * n, n + 1);
    PutU32(tree, nameDirAt + 20 + 8 * n, 0x80000000u | languageDirAt);
  }
  PutU16(tree, languageDirAt + 14, kLanguages);
  for (std::uint32_t l = 0; l < kLanguages; ++l) {
    PutU32(tree, languageDirAt + 16 + 8 * l, l);
    PutU32(tree, languageDirAt + 20 + 8 * l, dataEntryAt);
  }
  PutU32(tree, dataEntryAt, 0x1000 + dataEntryAt + 16);
  PutU32(tree, dataEntryAt + 4, 4);
  ASSERT_LE(tree.size(), 8 * kRead - 1);
  for (const std::uint32_t bytes : {8 * kRead, 8 * kRead - 1}) {
    SCOPED_TRACE(bytes);
    craft::ImageShape shape;
    shape.sections.push_back({".rsrc", 0x1000, bytes, 0x200, tree});
    shape.sections[0].raw.resize(0x200, 0);
    shape.directories[kDirResource] = {0x1000, bytes};
    auto update = ResourceUpdate::BeginInMemory(craft::BuildImage(shape));
    ASSERT_EQ(update.ok(), bytes == 8 * kRead) << (update.ok() ? "read" : update.error());
    if (update.ok())
      EXPECT_EQ(update->Items().size(), kNames * kLanguages);
    else
      EXPECT_NE(update.error().find(Cat("more entries than its ", bytes, " bytes")), std::string::npos)
          << update.error();
  }
}

// One leaf in the part of its section that has no file data: the reader
// gives it zeros, up to 64 MiB over the whole tree.
TEST(ReaderLimits, ZerosGivenForAtMostSixtyFourMebibytes) {
  constexpr std::uint32_t kMiB = 1u << 20;
  struct Case {
    std::uint32_t size;
    bool read;
  };
  for (const Case c : {Case{64 * kMiB, true}, Case{64 * kMiB + 4, false}}) {
    SCOPED_TRACE(c.size);
    craft::ImageShape shape;
    shape.sections.push_back(
        craft::ResourceSection(std::vector<ResourceItem>{{16, 1, 0, 0, Bytes(4, 2)}}, 0x1000, 0x200));
    shape.directories[2] = {0x1000, shape.sections[0].virtualSize};
    Bytes image = craft::BuildImage(shape);
    // The one data entry follows the three directories of one entry each.
    ASSERT_EQ(*ByteReader(image).u32(0x200 + 0x4C), 4u);
    const std::uint32_t extent = 0x2000 + 64 * kMiB + 0x1000;
    for (const craft::Patch &p : std::vector<craft::Patch>{{"section 0 raw +72", 0x3000},
                                                           {"section 0 raw +76", c.size},
                                                           {"section 0 VirtualSize", extent},
                                                           {"SizeOfImage", 0x1000 + extent}})
      ASSERT_TRUE(craft::ApplyPatch(image, p)) << p.field;
    auto update = ResourceUpdate::BeginInMemory(image);
    ASSERT_EQ(update.ok(), c.read) << (update.ok() ? "read" : update.error());
    if (c.read)
      EXPECT_EQ(update->Items().at(0).data.size(), c.size);
    else
      EXPECT_NE(update.error().find("no file data behind them"), std::string::npos) << update.error();
    // The reader of the version resource alone holds to the same limit.
    const auto version = ReadVersionResource(MemorySource(image), 0);
    ASSERT_EQ(version.ok(), c.read) << (version.ok() ? "read" : version.error());
    if (c.read) {
      EXPECT_EQ((*version)->bytes.size(), c.size);
    }
  }
}

// A file cut short after it was opened: the sizes checked at opening no
// longer hold, and a read of what is gone fails instead of giving zeros.
TEST(ReaderLimits, FileCutAfterOpeningReadsNothing) {
  const std::filesystem::path path = ScratchDir("cut_after_open") / "module.dll";
  WriteBytes(path, Bytes(0x300, 0x77));
  auto source = stamp::ModuleFile::Open(path);
  ASSERT_TRUE(source.ok()) << source.error();
  std::filesystem::resize_file(path, 0x100);
  EXPECT_FALSE((*source)->Bytes(0x200, 0x10).has_value());
}

// Headers one byte short of a field, or a section ending at 4 GiB, which
// SizeOfImage cannot reach.
TEST(ReaderLimits, HeadersAtTheirEdgesAreRefused) {
  struct Case {
    const char *name;
    std::function<void(Bytes &)> change;
    const char *refusal;
  };
  const auto optionalSize = [](std::uint16_t size) {
    return [size](Bytes &b) { PutU16(b, *ByteReader(b).u32(0x3C) + 20, size); };
  };
  const auto sectionAt = [](std::uint32_t rva, std::uint32_t size) {
    return [rva, size](Bytes &b) {
      ASSERT_TRUE(craft::ApplyPatch(b, {"section 0 VirtualAddress", rva}));
      ASSERT_TRUE(craft::ApplyPatch(b, {"section 0 VirtualSize", size}));
    };
  };
  const Case cases[] = {
      {"no optional header", optionalSize(0), "too short for its magic"},
      {"one byte of optional header", optionalSize(1), "too short for its magic"},
      {"section ending at 4 GiB", sectionAt(0xFFFFF000u, 0x1000), "wraps"},
      {"section ending one past 4 GiB", sectionAt(0xFFFFF000u, 0x1001), "wraps"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    craft::ImageShape shape;
    shape.sections.push_back({".data", 0x1000, 0x200, 0x200, Bytes(0x200, 1)});
    Bytes image = craft::BuildImage(shape);
    c.change(image);
    auto update = ResourceUpdate::BeginInMemory(image);
    ASSERT_FALSE(update.ok()) << "read";
    EXPECT_NE(update.error().find(c.refusal), std::string::npos) << update.error();
  }
}

} // namespace
} // namespace qm::pe::test
