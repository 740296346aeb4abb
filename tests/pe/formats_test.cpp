// Compiled resource files, the kind sniffer, language choice.
#include <gtest/gtest.h>

#include "base/byte_reader.h"
#include "pe/file_kind.h"
#include "pe/res_file.h"
#include "pe/version_reader.h"
#include "test_support.h"

namespace qm::pe::test {
namespace {

// A .res file as resource compilers write it, built by hand: the empty
// entry, then a named type and name, then integer ids.
Bytes HandBuiltRes() {
  Bytes out(32, 0);
  PutU32(out, 4, 32);
  PutU16(out, 8, 0xFFFF);
  PutU16(out, 12, 0xFFFF);
  const auto entry = [&](std::initializer_list<std::uint16_t> ids, std::uint16_t language, Bytes data) {
    Bytes header(8, 0);
    for (std::uint16_t unit : ids)
      header.insert(header.end(), {std::uint8_t(unit), std::uint8_t(unit >> 8)});
    header.resize((header.size() + 3) & ~std::size_t{3}, 0);
    const std::size_t fixed = header.size();
    header.resize(fixed + 16, 0);
    PutU16(header, fixed + 4, 0x1030);
    PutU16(header, fixed + 6, language);
    PutU32(header, 0, static_cast<std::uint32_t>(data.size()));
    PutU32(header, 4, static_cast<std::uint32_t>(header.size()));
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), data.begin(), data.end());
    out.resize((out.size() + 3) & ~std::size_t{3}, 0);
  };
  entry({'A', 'b', 0, 'X', 0}, 0x0407, Bytes{1, 2, 3});
  entry({0xFFFF, 16, 0xFFFF, 1}, 0, Bytes(10, 7));
  return out;
}

TEST(ResFile, ReadsNamesIdsAndData) {
  auto entries = ParseResFile(HandBuiltRes());
  ASSERT_TRUE(entries.ok()) << entries.error();
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_TRUE((*entries)[0].type == ResourceId::Named(u"Ab"));
  EXPECT_TRUE((*entries)[0].name == ResourceId::Named(u"X"));
  EXPECT_EQ((*entries)[0].language, 0x0407);
  EXPECT_EQ((*entries)[0].memoryFlags, 0x1030);
  EXPECT_EQ((*entries)[0].data, (Bytes{1, 2, 3}));
  EXPECT_TRUE((*entries)[1].type == ResourceId(16));
  EXPECT_EQ((*entries)[1].data, Bytes(10, 7));
}

TEST(ResFile, ReadsTheResourceCompilersOutput) {
  if (!HaveModules()) GTEST_SKIP() << "mingw-w64 is not installed: no resource compiler output";
  auto entries = ParseResFile(ReadBytes(ModulePath("stamp.res")));
  ASSERT_TRUE(entries.ok()) << entries.error();
  ASSERT_EQ(entries->size(), 1u);
  const Bytes &block = (*entries)[0].data;
  ASSERT_GE(block.size(), 6u);
  EXPECT_EQ(*ByteReader(block).u16(0), block.size()) << "the block's own length word";
}

TEST(ResFile, EveryTruncationIsRefusedOrEndsOnAnEntry) {
  const Bytes res = HandBuiltRes();
  std::vector<std::size_t> accepted;
  for (std::size_t n = 0; n < res.size(); ++n) {
    if (ParseResFile(std::span(res.data(), n)).ok()) accepted.push_back(n);
  }
  // The empty entry alone (32 bytes), then each resource's end with all,
  // part or none of its padding: the first's 3 bytes of data end at 71.
  EXPECT_EQ(accepted, (std::vector<std::size_t>{32, 71, 72, res.size() - 2, res.size() - 1}));
}

// A file that ends too soon says where: fewer than the eight bytes of a
// header's two sizes after the last entry, a header or data cut short.
TEST(ResFile, CutOffEntriesSayWhatIsMissing) {
  const Bytes whole = HandBuiltRes(); // entries at 32 (36-byte header, 3 bytes) and 72 (32-byte header, 10 bytes)
  std::vector<std::pair<Bytes, std::string>> cases;
  for (std::size_t stray = 1; stray < 8; ++stray) {
    Bytes res = whole;
    res.resize(res.size() + stray, 0xFF);
    cases.emplace_back(res, "truncated");
  }
  cases.emplace_back(Bytes(whole.begin(), whole.begin() + 80), "header of 32 bytes runs past the end of the file");
  cases.emplace_back(Bytes(whole.begin(), whole.begin() + 110), "10 bytes of data run past the end of the file");
  // A header whose size ends at each byte of its ids: a 12-unit type name
  // and its NUL at 8, the integer name at 34, the fixed fields at 40.
  for (std::uint32_t size = 32; size <= 56; ++size) {
    Bytes res(whole.begin(), whole.begin() + 32), header(56, 0);
    PutU32(header, 4, size);
    for (std::size_t i = 0; i < 12; ++i)
      PutU16(header, 8 + 2 * i, static_cast<std::uint16_t>('A' + i));
    PutU16(header, 34, 0xFFFF);
    PutU16(header, 36, 1);
    res.insert(res.end(), header.begin(), header.end());
    cases.emplace_back(res, size < 34   ? "name without its terminating NUL"
                            : size < 36 ? "ends inside its type or name"
                            : size < 38 ? "ends inside an integer id"
                            : size < 56 ? "too short for its fixed fields"
                                        : "");
  }
  for (const auto &[res, reason] : cases) {
    auto entries = ParseResFile(res);
    if (reason.empty()) {
      EXPECT_TRUE(entries.ok()) << entries.error();
      continue;
    }
    ASSERT_FALSE(entries.ok()) << res.size();
    EXPECT_NE(entries.error().find(reason), std::string::npos) << res.size() << ": " << entries.error();
  }
}

TEST(FileKinds, AreToldApart) {
  const auto items = std::vector<ResourceItem>{{16, 1, 0, 0, Bytes(4, 1)}};
  const Bytes module = MinimalImage(items);
  Bytes noSignature = module;
  noSignature[0x40] = 'X';
  struct Case {
    const char *name;
    Bytes bytes;
    FileKind kind;
  } cases[] = {
      {"module", module, FileKind::PeModule},
      {"MZ without PE signature", noSignature, FileKind::Other},
      {"MZ alone", Bytes{'M', 'Z'}, FileKind::Other},
      {"compiled resources", HandBuiltRes(), FileKind::CompiledResources},
      {"empty", Bytes{}, FileKind::Other},
      {"a bare version block", Bytes{0x5C, 0x00, 0x34, 0x00, 0x00, 0x00, 'V', 0, 'S', 0}, FileKind::Other},
  };
  for (const Case &c : cases)
    EXPECT_EQ(SniffFileKind(c.bytes), c.kind) << c.name;
}

TEST(Languages, ChoiceOrder) {
  struct Case {
    std::vector<std::uint16_t> available;
    std::uint16_t user, chosen;
  } cases[] = {
      {{0x0409, 0x0000, 0x0407}, 0x0407, 0x0000},
      {{0x0409, 0x0407}, 0x0407, 0x0407},
      {{0x0411, 0x0409, 0x0407}, 0x040C, 0x0409},
      {{0x0411, 0x0407}, 0x040C, 0x0411},
  };
  for (const Case &c : cases)
    EXPECT_EQ(ChooseLanguage(c.available, c.user), c.chosen);
}

} // namespace
} // namespace qm::pe::test
