// What lies after the image, told apart; an NSIS installer's CRC made again
// by a stamp where it was right, left alone where it was not; and the
// packers whose stubs check the image they lie in, told by their marks.
#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

#include "crafted_modules.h"
#include "pe/appended_data.h"
#include "pe/checksum.h"
#include "pe/nsis_installer.h"
#include "pe/resource_update.h"
#include "pe/self_checking_packer.h"

namespace qm::pe {
namespace {

using craft::Bytes;
using Kinds = std::vector<AppendedKind>;

void Put32(Bytes &b, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k)
    b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
}

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes operator+(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The module every row starts from: one resource section, raw data ending
// on a 512-byte boundary, the PE headers at `peOffset`.
Bytes Base(std::uint32_t peOffset = 0x40, std::vector<ResourceItem> items = {{16, 1, 0, 0, Bytes(40, 7)}}) {
  craft::ImageShape shape;
  shape.peOffset = peOffset;
  shape.sizeOfHeaders = peOffset > 0x100 ? 0x400 : 0x200;
  shape.sections.push_back(craft::ResourceSection(items, 0x1000, shape.sizeOfHeaders));
  shape.directories[kDirResource] = {0x1000, shape.sections[0].virtualSize};
  return craft::BuildImage(shape);
}

// CRC-32 bit by bit: the installer's own definition, apart from the code under test.
std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::uint8_t b : bytes) {
    c ^= b;
    for (int k = 0; k < 8; ++k)
      c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

constexpr std::uint8_t kNsisMagic[] = {0xEF, 0xBE, 0xAD, 0xDE, 'N', 'u', 'l', 'l',
                                       's',  'o',  'f',  't',  'I', 'n', 's', 't'};

// Appends an installer's data to `module`: first header, `body` bytes, and
// (unless the flags turn it off) a CRC, right or off by one.
Bytes WithNsis(Bytes module, std::uint32_t flags, std::size_t body, bool rightCrc = true) {
  const bool checked = (flags & 8) || !(flags & 4);
  const std::size_t at = module.size();
  Bytes data(28 + body, 0x5A);
  Put32(data, 0, flags);
  std::copy(std::begin(kNsisMagic), std::end(kNsisMagic), data.begin() + 4);
  Put32(data, 20, 16);
  Put32(data, 24, static_cast<std::uint32_t>(data.size() + (checked ? 4 : 0)));
  module = module + data;
  if (checked) {
    module.resize(module.size() + 4);
    Put32(module, module.size() - 4, Crc32(std::span(module).subspan(512, module.size() - 4 - 512)) + !rightCrc);
  }
  EXPECT_EQ(at % 512, 0u);
  return module;
}

Bytes WithCertificate(Bytes module, std::size_t padding) {
  module.resize(module.size() + padding);
  const std::uint32_t at = static_cast<std::uint32_t>(module.size());
  Put32(module, 0x40 + 24 + 96 + 8 * kDirSecurity, at);
  Put32(module, 0x40 + 24 + 100 + 8 * kDirSecurity, 64);
  return module + Bytes(64, 0x30);
}

struct TailRow {
  const char *name;
  std::function<Bytes()> make;
  Kinds kinds;
  friend void PrintTo(const TailRow &row, std::ostream *os) { *os << row.name; }
};

class AppendedData : public ::testing::TestWithParam<TailRow> {};

TEST_P(AppendedData, IsToldApartAndCoversTheTail) {
  const Bytes module = GetParam().make();
  const MemorySource source(module);
  const auto headers = ParseHeaders(source);
  ASSERT_TRUE(headers) << headers.error();
  const auto parts = ClassifyAppendedData(source, *headers);
  Kinds kinds;
  std::uint64_t at = headers->ImageFileEnd();
  for (const AppendedPart &part : parts) {
    kinds.push_back(part.kind);
    EXPECT_EQ(part.offset, at) << AppendedKindName(part.kind) << ": the parts follow each other without a gap";
    at = part.offset + part.size;
  }
  EXPECT_EQ(kinds, GetParam().kinds);
  EXPECT_EQ(at, module.size());
}

const Bytes kSymbols = [] {
  Bytes b(2 * 18 + 8, 0);
  Put32(b, 36, 8); // the string table's length, itself included
  return b;
}();

// Inno Setup's loader marks: its offset table as RCDATA `name` beginning
// with "rDlPtS", and unknown data after the image.
Bytes WithInnoTable(std::uint16_t type, std::uint16_t name, std::string_view table = "rDlPtS02 offsets") {
  const std::vector<ResourceItem> items = {{16, 1, 0, 0, Bytes(40, 7)}, {type, name, 0, 0, Text(table)}};
  return Base(0x40, items) + Bytes(80, 0xC3);
}

// One debug directory entry among the headers whose data lies after the
// image, followed by `after`.
Bytes WithDebugData(Bytes module, const Bytes &after) {
  constexpr std::uint32_t kEntry = 0x1A0;
  Put32(module, 0x40 + 24 + 96 + 8 * kDirDebug, kEntry);
  Put32(module, 0x40 + 24 + 100 + 8 * kDirDebug, 28);
  Put32(module, kEntry + 16, 48);
  Put32(module, kEntry + 24, static_cast<std::uint32_t>(module.size()));
  return module + Bytes(48, 0x11) + after;
}

Bytes WithSymbols(Bytes module, const Bytes &after) {
  Put32(module, 0x40 + 12, static_cast<std::uint32_t>(module.size()));
  Put32(module, 0x40 + 16, 2);
  return module + kSymbols + after;
}

INSTANTIATE_TEST_SUITE_P(
    Tails, AppendedData,
    ::testing::Values(
        TailRow{"none", [] { return Base(); }, {}},
        TailRow{"zip", [] { return Base() + Text("PK\x03\x04 local file"); }, {AppendedKind::Zip}},
        TailRow{"rar", [] { return Base() + Text(std::string_view("Rar!\x1A\x07\x01\x00", 8)); }, {AppendedKind::Rar}},
        TailRow{"cab", [] { return Base() + Text(std::string_view("MSCF\0\0\0\0rest", 12)); }, {AppendedKind::Cab}},
        TailRow{"sevenzip_config",
                [] { return Base() + Text(";!@Install@!UTF-8!\nTitle=\"x\"\n;!@InstallEnd@!"); },
                {AppendedKind::SevenZipSfx}},
        TailRow{"inno_setup_data",
                [] { return Base() + Text("Inno Setup Setup Data (6.2.2)") + Bytes(40, 1); },
                {AppendedKind::InnoSetup}},
        TailRow{"inno_loader_table", [] { return WithInnoTable(10, 11111); }, {AppendedKind::InnoSetup}},
        // The mark alone, the section's last mapped bytes.
        TailRow{"inno_loader_table_mark_only",
                [] {
                  Bytes b = WithInnoTable(10, 11111, "rDlPtS");
                  const Bytes mark = Text("rDlPtS");
                  const auto at = std::search(b.begin(), b.end(), mark.begin(), mark.end()) - b.begin();
                  craft::ApplyPatch(b, {"section 0 VirtualSize", static_cast<std::uint32_t>(at + 6 - 0x200)});
                  return b;
                },
                {AppendedKind::InnoSetup}},
        TailRow{"inno_table_name_elsewhere", [] { return WithInnoTable(10, 11110); }, {AppendedKind::Unknown}},
        TailRow{"inno_table_type_elsewhere", [] { return WithInnoTable(9, 11111); }, {AppendedKind::Unknown}},
        TailRow{"inno_header_mark",
                [] {
                  Bytes b = Base() + Bytes(80, 0xC3);
                  Put32(b, 0x30, 0x6F6E6E49);
                  return b;
                },
                {AppendedKind::InnoSetup}},
        TailRow{"debug_data_then_zip",
                [] { return WithDebugData(Base(), Text("PK\x03\x04 zip")); },
                {AppendedKind::DebugSymbols, AppendedKind::Zip}},
        TailRow{"certificate_listed_before_debug_data",
                [] { return WithCertificate(WithDebugData(Base(), {}), 0); },
                {AppendedKind::DebugSymbols, AppendedKind::Certificate}},
        // The smallest installer data an unchecked installer's header allows.
        TailRow{"nsis_unchecked_header_only", [] { return WithNsis(Base(), 4, 0); }, {AppendedKind::Nsis}},
        TailRow{"nsis_checked_header_only", [] { return WithNsis(Base(), 0, 0); }, {AppendedKind::Nsis}},
        // The search for the header: its last block and the one past it,
        // a length one byte past the file's end, unknown flags, a checked
        // installer too short for its CRC.
        TailRow{"nsis_at_the_searchs_last_block",
                [] { return WithNsis(Base() + Bytes((1u << 20) - 512, 0xAB), 0, 0); },
                {AppendedKind::Unknown, AppendedKind::Nsis}},
        TailRow{"nsis_past_the_search",
                [] { return WithNsis(Base() + Bytes(1u << 20, 0xAB), 0, 0); },
                {AppendedKind::Unknown}},
        TailRow{"nsis_cut_short",
                [] {
                  Bytes b = WithNsis(Base(), 0, 300);
                  b.pop_back();
                  return b;
                },
                {AppendedKind::Unknown}},
        TailRow{"nsis_unknown_flag", [] { return WithNsis(Base(), 0x10, 0); }, {AppendedKind::Unknown}},
        TailRow{"nsis_checked_without_room_for_its_crc",
                [] {
                  Bytes b = WithNsis(Base(), 4, 0);
                  Put32(b, b.size() - 28, 0);
                  return b;
                },
                {AppendedKind::Unknown}},
        TailRow{"nsis_then_more",
                [] { return WithNsis(Base(), 0, 300) + Text("tacked on"); },
                {AppendedKind::Nsis, AppendedKind::Unknown}},
        TailRow{"nsis_signed",
                [] { return WithCertificate(WithNsis(Base(), 0, 300), 4); },
                {AppendedKind::Nsis, AppendedKind::Padding, AppendedKind::Certificate}},
        TailRow{"unknown_then_certificate",
                [] { return WithCertificate(Base() + Bytes(600, 0xAB), 0); },
                {AppendedKind::Unknown, AppendedKind::Certificate}},
        TailRow{"coff_symbols_then_certificate",
                [] { return WithCertificate(WithSymbols(Base(), {}), 0); },
                {AppendedKind::DebugSymbols, AppendedKind::Certificate}},
        TailRow{"coff_symbols_then_zip",
                [] { return WithSymbols(Base(), Text("PK\x03\x04 zip")); },
                {AppendedKind::DebugSymbols, AppendedKind::Zip}}),
    [](const auto &info) { return std::string(info.param.name); });

struct NsisRow {
  const char *name;
  std::uint32_t flags;
  bool rightCrc;
  std::uint32_t peOffset;
  enum Expect { MadeRight, LeftWrong, Untouched, Refused } expect;
  friend void PrintTo(const NsisRow &row, std::ostream *os) { *os << row.name; }
};

class NsisStamp : public ::testing::TestWithParam<NsisRow> {};

TEST_P(NsisStamp, KeepsTheCheckRightOnlyWhereItWas) {
  const NsisRow &row = GetParam();
  const Bytes module = WithNsis(Base(row.peOffset), row.flags, 5000, row.rightCrc);
  const MemorySource oldSource(module);
  const auto oldHeaders = ParseHeaders(oldSource);
  ASSERT_TRUE(oldHeaders) << oldHeaders.error();
  const auto oldNsis = FindNsisHeader(oldSource, *oldHeaders);
  ASSERT_TRUE(oldNsis);

  auto update = ResourceUpdate::BeginInMemory(module);
  ASSERT_TRUE(update) << update.error();
  // Large enough to move the installer's data down the file.
  ASSERT_TRUE(update->Put(ResourceId(16), ResourceId(1), 0, Bytes(3000, 9)));
  const auto composed = update->Compose();
  ASSERT_TRUE(composed) << composed.error();
  const auto risk = PayloadBrokenBy(oldSource, *oldHeaders, *composed);
  if (row.expect == NsisRow::Refused) {
    ASSERT_TRUE(risk);
    EXPECT_EQ(risk->kind, AppendedKind::Nsis);
    EXPECT_NE(risk->why.find("PE checksum"), std::string::npos) << risk->why;
    return;
  }
  EXPECT_FALSE(risk) << risk->why;
  const auto built = composed->Materialize(oldSource);
  ASSERT_TRUE(built) << built.error();
  const MemorySource newSource(*built);
  const auto newHeaders = ParseHeaders(newSource);
  ASSERT_TRUE(newHeaders);
  const auto nsis = FindNsisHeader(newSource, *newHeaders);
  ASSERT_TRUE(nsis);
  ASSERT_GT(nsis->at, oldNsis->at) << "the stamp moved the installer's data";
  const std::span<const std::uint8_t> after(*built);
  EXPECT_EQ(*newSource.U32(newHeaders->CheckSumOffset()), ComputeChecksum(after, newHeaders->CheckSumOffset()))
      << "the checksum sums the CRC as it was made";
  const std::span<const std::uint8_t> before(module);
  switch (row.expect) {
  case NsisRow::MadeRight:
    EXPECT_EQ(*newSource.U32(nsis->CrcAt()), Crc32(after.subspan(512, nsis->CrcAt() - 512)));
    break;
  case NsisRow::LeftWrong:
    EXPECT_EQ(*newSource.U32(nsis->CrcAt()), *oldSource.U32(oldNsis->CrcAt()));
    EXPECT_NE(*newSource.U32(nsis->CrcAt()), Crc32(after.subspan(512, nsis->CrcAt() - 512)));
    break;
  case NsisRow::Untouched:
  case NsisRow::Refused:
    break;
  }
  // Its data is kept byte for byte; without a CRC, all of it.
  const std::uint64_t kept = nsis->dataLength - (row.expect == NsisRow::Untouched ? 0 : 4);
  EXPECT_TRUE(std::equal(before.begin() + oldNsis->at, before.begin() + oldNsis->at + kept, after.begin() + nsis->at,
                         after.begin() + nsis->at + kept))
      << "the installer's data is kept byte for byte";
}

INSTANTIATE_TEST_SUITE_P(Installers, NsisStamp,
                         ::testing::Values(NsisRow{"crc_right", 0, true, 0x40, NsisRow::MadeRight},
                                           NsisRow{"crc_forced_over_off", 4 | 8, true, 0x40, NsisRow::MadeRight},
                                           NsisRow{"silent_crc_right", 2, true, 0x40, NsisRow::MadeRight},
                                           NsisRow{"crc_wrong", 0, false, 0x40, NsisRow::LeftWrong},
                                           NsisRow{"crc_off", 4, true, 0x40, NsisRow::Untouched},
                                           // The uninstaller's flag beside them, which says nothing of the CRC.
                                           NsisRow{"uninstaller_crc_right", 1, true, 0x40, NsisRow::MadeRight},
                                           NsisRow{"uninstaller_crc_off", 4 | 1, true, 0x40, NsisRow::Untouched},
                                           NsisRow{"crc_over_pe_checksum", 0, true, 0x1E0, NsisRow::Refused},
                                           NsisRow{"no_crc_beside_pe_checksum", 4, true, 0x1E0, NsisRow::Untouched}),
                         [](const auto &info) { return std::string(info.param.name); });

// A module whose sections bear `names`, the resources last.
Bytes WithSections(std::vector<const char *> names) {
  craft::ImageShape shape;
  std::uint32_t rva = 0x1000, raw = 0x200;
  for (const char *name : names) {
    shape.sections.push_back({name, rva, 0x200, raw, Bytes(0x200, 0x90)});
    rva += 0x1000, raw += 0x200;
  }
  const std::vector<ResourceItem> items = {{16, 1, 0, 0, Bytes(40, 7)}};
  shape.sections.push_back(craft::ResourceSection(items, rva, raw));
  shape.directories[kDirResource] = {rva, shape.sections.back().virtualSize};
  return craft::BuildImage(shape);
}

// A module whose entry point, among the headers after the section table,
// begins with `hex` (the first bytes of a real packed program's stub) and
// the file ends `cut` bytes into them.
Bytes EnteringAt(std::string_view hex, std::size_t cut = 0) {
  constexpr std::uint32_t kEntry = 0x1B0;
  Bytes module = Base();
  Put32(module, 0x40 + 24 + 16, kEntry);
  for (std::size_t i = 0; i * 3 + 1 < hex.size(); ++i)
    module[kEntry + i] = static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(i * 3, 2)), nullptr, 16));
  // SizeOfHeaders past the shortened file, as a packer leaves it; the
  // section keeps no file data.
  if (cut) {
    module.resize(kEntry + cut);
    Put32(module, 0x40 + 24 + 0xE0 + 16, 0);
  }
  return module;
}

struct PackerRow {
  const char *name;
  std::function<Bytes()> make;
  const char *packer; // "" for none
  friend void PrintTo(const PackerRow &row, std::ostream *os) { *os << row.name; }
};

class SelfCheckingPackers : public ::testing::TestWithParam<PackerRow> {};

TEST_P(SelfCheckingPackers, AreNamedByTheirMarks) {
  const Bytes module = GetParam().make();
  const MemorySource source(module);
  const auto headers = ParseHeaders(source);
  ASSERT_TRUE(headers) << headers.error();
  EXPECT_EQ(FindSelfCheckingPacker(source, *headers).value_or(""), GetParam().packer);
}

// Entry bytes are those of Debian's packed twins of ClamAV's test program.
constexpr std::string_view kPetiteEntry =
    "b8 00 50 40 00 68 23 21 40 00 64 ff 35 00 00 00 00 64 89 25 00 00 00 00 66 9c 60 50 68 00 00 40";
constexpr std::string_view kPespinEntry =
    "eb 01 68 60 e8 00 00 00 00 8b 1c 24 83 c3 12 81 2b e8 b1 06 00 fe 4b fd 82 2c 24 7d de 46 00 0b";
constexpr std::string_view kYcEntry =
    "55 8b ec 53 56 57 60 e8 00 00 00 00 5d 81 ed 8c 21 40 00 b9 51 2d 40 00 81 e9 e6 21 40 00 8b d5";

INSTANTIATE_TEST_SUITE_P(
    Marks, SelfCheckingPackers,
    ::testing::Values(
        PackerRow{"petite_section",
                  [] {
                    return WithSections({".text", ".petite"});
                  },
                  "Petite"},
        PackerRow{"petite_entry", [] { return EnteringAt(kPetiteEntry); }, "Petite"},
        PackerRow{"pespin_entry", [] { return EnteringAt(kPespinEntry); }, "PESpin"},
        PackerRow{"pespin_section", [] { return WithSections({".taz"}); }, "PESpin"},
        PackerRow{"yc_section",
                  [] {
                    return WithSections({"UPX0", "UPX1", "yC"});
                  },
                  "yC"},
        PackerRow{"yc_entry", [] { return EnteringAt(kYcEntry); }, "yC"},
        PackerRow{"themida_section",
                  [] {
                    return WithSections({".text", ".themida"});
                  },
                  "Themida"},
        PackerRow{"winlicense_section", [] { return WithSections({".winlice"}); }, "WinLicense"},
        PackerRow{"vmprotect_sections",
                  [] {
                    return WithSections({".text", ".vmp0", ".vmp1"});
                  },
                  "VMProtect"},
        PackerRow{"enigma_section",
                  [] {
                    return WithSections({".enigma1", ".enigma2"});
                  },
                  "Enigma"},
        PackerRow{"obsidium_entry", [] { return EnteringAt("eb 02 11 22 e8 26 00 00 00"); }, "Obsidium"},
        PackerRow{"asprotect_section",
                  [] {
                    return WithSections({".text", ".aspr"});
                  },
                  "ASProtect"},
        PackerRow{"asprotect_entry", [] { return EnteringAt("68 01 40 42 00 e8 01 00 00 00 c3 c3"); }, "ASProtect"},
        PackerRow{"armadillo_sections",
                  [] {
                    return WithSections({".text1", ".data1"});
                  },
                  "Armadillo"},
        PackerRow{"execryptor_entry",
                  [] {
                    return EnteringAt("e8 24 00 00 00 8b 4c 24 0c c7 01 17 00 01 00 c7 81 b8 00 00 00 00 00 00 00 31 "
                                      "c0 89 41 14 89 41 18 80");
                  },
                  "ExeCryptor"},
        // Packers that leave the image unchecked, and marks cut short.
        PackerRow{"upx",
                  [] {
                    return WithSections({"UPX0", "UPX1"});
                  },
                  ""},
        PackerRow{"aspack",
                  [] {
                    return WithSections({".text", ".aspack", ".adata"});
                  },
                  ""},
        PackerRow{"wwpack",
                  [] {
                    return WithSections({".text", ".WWP32"});
                  },
                  ""},
        PackerRow{"aspack_entry", [] { return EnteringAt("60 e8 03 00 00 00 e9 eb 04 5d 45 55 c3 e8 01"); }, ""},
        PackerRow{"one_of_two_sections",
                  [] {
                    return WithSections({".text1", ".data"});
                  },
                  ""},
        PackerRow{"name_prefix_only", [] { return WithSections({".petit"}); }, ""},
        PackerRow{"entry_mark_cut_by_the_file_end", [] { return EnteringAt(kYcEntry, 14); }, ""},
        PackerRow{"entry_mark_whole_at_the_file_end", [] { return EnteringAt(kYcEntry, 15); }, "yC"}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace qm::pe
