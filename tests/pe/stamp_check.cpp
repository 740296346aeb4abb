#include "stamp_check.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/byte_reader.h"
#include "pe/checksum.h"
#include "pe/resource_update.h"
#include "pe/version_reader.h"
#include "stamp/module_injection.h"

namespace qm::pe::test {
namespace {

constexpr std::size_t kDebugEntrySize = 28;

void AppendOverlay(Bytes &image) { image.insert(image.end(), kOverlayText, kOverlayText + sizeof kOverlayText); }

void AppendCertificate(Bytes &image, const PeHeaders &headers) {
  image.resize((image.size() + 7) & ~std::size_t{7}, 0);
  const std::uint32_t at = static_cast<std::uint32_t>(image.size());
  Bytes cert(8 + 64, 0xC5);
  PutU32(cert, 0, static_cast<std::uint32_t>(cert.size()));
  PutU16(cert, 4, 0x0200);
  PutU16(cert, 6, 0x0002);
  image.insert(image.end(), cert.begin(), cert.end());
  PutU32(image, headers.DirectoryOffset(kDirSecurity), at);
  PutU32(image, headers.DirectoryOffset(kDirSecurity) + 4, static_cast<std::uint32_t>(cert.size()));
}

// Debug data kept only in the file, as older linkers place it, after every
// section.
void MoveDebugDataPast(Bytes &image, const PeHeaders &headers) {
  const DataDirectory debug = headers.Directory(kDirDebug);
  ASSERT_GE(debug.size, kDebugEntrySize) << "the module has no debug directory";
  const auto at = headers.RvaToOffset(debug.rva, debug.size);
  ASSERT_TRUE(at);
  const std::string data = "debug data past the resources";
  PutU32(image, *at + 16, static_cast<std::uint32_t>(data.size()));
  PutU32(image, *at + 20, 0);
  PutU32(image, *at + 24, static_cast<std::uint32_t>(image.size()));
  image.insert(image.end(), data.begin(), data.end());
}

std::vector<std::pair<std::uint32_t, Bytes>> DebugData(const Bytes &image) {
  std::vector<std::pair<std::uint32_t, Bytes>> out;
  const PeHeaders h = Headers(image);
  const DataDirectory debug = h.Directory(kDirDebug);
  const auto at = h.RvaToOffset(debug.rva, debug.size);
  if (debug.size == 0 || !at) return out;
  const ByteReader r(std::span<const std::uint8_t>(image).subspan(*at, debug.size));
  for (std::size_t i = 0; i < debug.size / kDebugEntrySize; ++i) {
    const std::uint32_t size = *r.u32(i * kDebugEntrySize + 16), pointer = *r.u32(i * kDebugEntrySize + 24);
    const auto bytes = ByteReader(image).sub(pointer, size);
    out.emplace_back(size, bytes ? Bytes(bytes->bytes().begin(), bytes->bytes().end()) : Bytes{});
  }
  return out;
}

Bytes SymbolTable(const Bytes &image) {
  const PeHeaders h = Headers(image);
  if (h.pointerToSymbolTable == 0) return {};
  const auto table = ByteReader(image).sub(h.pointerToSymbolTable, std::size_t{h.numberOfSymbols} * 18 + 4);
  return table ? Bytes(table->bytes().begin(), table->bytes().end()) : Bytes{};
}

} // namespace

Bytes VariantImage(const Variant &variant) {
  Bytes image = ReadBytes(ModulePath(variant.module));
  const PeHeaders headers = Headers(image);
  if (variant.debugPast) MoveDebugDataPast(image, headers);
  if (variant.overlay) AppendOverlay(image);
  if (variant.certificate) AppendCertificate(image, headers);
  return image;
}

void StampFile(const std::filesystem::path &path) {
  const auto failure = stamp::StoreVersionResource(path, path.filename().string(), StampBlock());
  ASSERT_TRUE(failure.ok()) << failure.error();
}

void ExpectStamped(const Bytes &original, const Bytes &stamped, bool overlay) {
  // The block under 16/1/0, code page 0; every other leaf as it was.
  ResourceMap expected = ReadResources(original);
  expected[{ResourceId(16), ResourceId(1), 0}] = {0, StampBlock()};
  EXPECT_TRUE(ReadResources(stamped) == expected) << "the resources differ from the original plus the block";

  auto found = ReadVersionResource(MemorySource(stamped), 0x0407);
  ASSERT_TRUE(found.ok()) << found.error();
  ASSERT_TRUE(found->has_value());
  EXPECT_EQ((*found)->bytes, StampBlock());
  EXPECT_EQ((*found)->language, 0);

  const PeHeaders before = Headers(original), after = Headers(stamped);
  EXPECT_EQ(after.checkSum, ComputeChecksum(stamped, after.CheckSumOffset()));
  EXPECT_EQ(after.sizeOfImage, after.ComputedSizeOfImage());
  EXPECT_EQ(after.Directory(kDirSecurity).rva, 0u);
  EXPECT_EQ(after.Directory(kDirSecurity).size, 0u);
  for (std::size_t i = 1; i < after.sections.size(); ++i) {
    const Section &p = after.sections[i - 1], &s = after.sections[i];
    EXPECT_LE(std::uint64_t{p.virtualAddress} + p.VirtualExtent(), s.virtualAddress) << "section " << i;
    if (p.sizeOfRawData != 0 && s.sizeOfRawData != 0) {
      EXPECT_LE(p.RawEnd(), s.pointerToRawData) << "section " << i;
    }
  }
  if (overlay) {
    // At the end, but for the zeros that aligned a dropped certificate.
    const auto at = std::search(stamped.begin(), stamped.end(), kOverlayText, kOverlayText + sizeof kOverlayText);
    ASSERT_NE(at, stamped.end()) << "the overlay is gone";
    const auto rest = static_cast<std::size_t>(stamped.end() - at) - sizeof kOverlayText;
    EXPECT_LT(rest, 8u);
    EXPECT_TRUE(
        std::all_of(stamped.end() - static_cast<std::ptrdiff_t>(rest), stamped.end(), [](auto b) { return b == 0; }));
    EXPECT_GE(static_cast<std::uint64_t>(at - stamped.begin()), after.ImageFileEnd());
  }
  const Bytes certificateBody(64, 0xC5);
  EXPECT_EQ(std::search(stamped.begin(), stamped.end(), certificateBody.begin(), certificateBody.end()), stamped.end())
      << "the certificate's bytes are still there";
  EXPECT_EQ(SymbolTable(stamped), SymbolTable(original));
  EXPECT_EQ(DebugData(stamped), DebugData(original));
  EXPECT_EQ(after.directories.size(), before.directories.size());
}

} // namespace qm::pe::test
