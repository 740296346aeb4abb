#include "test_support.h"

#include <gtest/gtest.h>

#include <fstream>

#include "base/byte_reader.h"
#include "pe/byte_source.h"
#include "pe/res_file.h"
#include "pe/section_writer.h"

namespace qm::pe::test {

namespace fs = std::filesystem;

bool HaveModules() { return QM_PE_HAVE_MINGW != 0 && fs::exists(ModulePath("stamp.res")); }

fs::path ModulePath(const std::string &name) { return fs::path(QM_PE_MODULES) / name; }

fs::path ScratchDir(const std::string &name) {
  fs::path dir = fs::path(QM_PE_MODULES).parent_path() / "scratch" / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

Bytes ReadBytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path &path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

const Bytes &StampBlock() {
  static const Bytes block = [] {
    auto entries = ParseResFile(ReadBytes(ModulePath("stamp.res")));
    if (!entries) return Bytes{};
    for (const auto &e : *entries) {
      if (e.type == ResourceId(16) && e.name == ResourceId(1)) return e.data;
    }
    return Bytes{};
  }();
  return block;
}

PeHeaders Headers(std::span<const std::uint8_t> image) {
  auto headers = ParseHeaders(MemorySource(image));
  EXPECT_TRUE(headers.ok()) << headers.error();
  return headers ? *headers : PeHeaders{};
}

ResourceMap ReadResources(std::span<const std::uint8_t> image) {
  ResourceMap map;
  const MemorySource source(image);
  auto headers = ParseHeaders(source);
  EXPECT_TRUE(headers.ok()) << headers.error();
  if (!headers) return map;
  auto leaves = ParseResourceTree(source, *headers);
  EXPECT_TRUE(leaves.ok()) << leaves.error();
  if (!leaves) return map;
  for (const auto &leaf : *leaves) {
    auto data = ReadLeafData(source, *headers, leaf);
    EXPECT_TRUE(data.ok()) << data.error();
    map[{leaf.type, leaf.name, leaf.language}] = {leaf.codePage, data ? *data : Bytes{}};
  }
  return map;
}

Bytes MinimalImage(std::span<const ResourceItem> items) {
  constexpr std::uint32_t kPe = 0x40, kOptional = kPe + 24, kTable = kOptional + 0xE0, kRva = 0x1000;
  auto section = BuildResourceSection(items, kRva);
  EXPECT_TRUE(section.ok()) << section.error();
  const std::uint32_t raw = static_cast<std::uint32_t>((section->size() + 0x1FF) & ~0x1FFu);
  Bytes image(0x200 + raw, 0);
  image[0] = 'M';
  image[1] = 'Z';
  PutU32(image, 0x3C, kPe);
  PutU32(image, kPe, 0x00004550);
  PutU16(image, kPe + 4, 0x14C);
  PutU16(image, kPe + 6, 1);
  PutU16(image, kPe + 20, 0xE0);
  PutU16(image, kOptional, 0x10B);
  PutU32(image, kOptional + 8, raw);
  PutU32(image, kOptional + 32, 0x1000);
  PutU32(image, kOptional + 36, 0x200);
  PutU32(image, kOptional + 56, kRva + ((static_cast<std::uint32_t>(section->size()) + 0xFFF) & ~0xFFFu));
  PutU32(image, kOptional + 60, 0x200);
  PutU16(image, kOptional + 68, 3);
  PutU32(image, kOptional + 92, 16);
  PutU32(image, kOptional + 96 + 8 * 2, kRva);
  PutU32(image, kOptional + 96 + 8 * 2 + 4, static_cast<std::uint32_t>(section->size()));
  const char name[] = ".rsrc";
  std::copy(name, name + 5, image.begin() + kTable);
  PutU32(image, kTable + 8, static_cast<std::uint32_t>(section->size()));
  PutU32(image, kTable + 12, kRva);
  PutU32(image, kTable + 16, raw);
  PutU32(image, kTable + 20, 0x200);
  PutU32(image, kTable + 36, kScnInitializedData | kScnMemRead);
  std::copy(section->begin(), section->end(), image.begin() + 0x200);
  return image;
}

std::vector<fs::path> WineSampleDlls() {
  std::vector<fs::path> found;
  const char *const dirs[] = {"/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/lib/wine/i386-windows",
                              "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/wine/x86_64-windows",
                              "/usr/lib64/wine/x86_64-windows"};
  for (const char *dir : dirs) {
    for (const char *name : {"version.dll", "lz32.dll", "icmp.dll"}) {
      const fs::path candidate = fs::path(dir) / name;
      if (fs::exists(candidate)) found.push_back(candidate);
    }
  }
  return found;
}

} // namespace qm::pe::test
