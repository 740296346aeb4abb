#pragma once
// Helpers of the stamping layer's tests: a scratch folder, whole files, and
// a small PE module built in memory.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "pe/resource_update.h"

namespace qm::stamp::test {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadBytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const fs::path &path, const Bytes &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The update's new module whole, as the in-memory writer gives it; empty
// when it cannot be composed.
inline Bytes InMemory(const pe::ResourceUpdate &update) {
  auto composed = update.Compose();
  if (!composed) return {};
  auto bytes = composed->Materialize(update.Source());
  return bytes ? std::move(*bytes) : Bytes{};
}

inline bool IsRoot() { return ::geteuid() == 0; }

class ScratchDir {
public:
  ScratchDir() {
    std::random_device random;
    path_ = fs::temp_directory_path() / ("qm-stamp-" + std::to_string(random()) + std::to_string(random()));
    fs::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (const auto &entry : fs::recursive_directory_iterator(path_, ignored)) {
      if (entry.is_directory(ignored))
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ignored);
  }
  const fs::path &path() const { return path_; }
  fs::path operator/(const std::string &name) const { return path_ / name; }
  // The names in the folder, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(path_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

private:
  fs::path path_;
};

// `size` bytes that never repeat in a way a wrong offset could match.
inline Bytes Noise(std::size_t size, std::uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes bytes(size);
  for (auto &b : bytes)
    b = static_cast<std::uint8_t>(generator());
  return bytes;
}

inline Bytes Concat(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A PE32 module with one code section and no resources. With `full`, the
// space after the section table is taken, so no section can be added.
inline Bytes SmallModule(bool full = false) {
  Bytes image(0x400, 0);
  auto u16 = [&](std::size_t at, std::uint16_t v) {
    image[at] = static_cast<std::uint8_t>(v);
    image[at + 1] = static_cast<std::uint8_t>(v >> 8);
  };
  auto u32 = [&](std::size_t at, std::uint32_t v) {
    u16(at, static_cast<std::uint16_t>(v));
    u16(at + 2, static_cast<std::uint16_t>(v >> 16));
  };
  constexpr std::size_t kPe = 0x40, kOptional = kPe + 24, kTable = kOptional + 0xE0;
  image[0] = 'M';
  image[1] = 'Z';
  u32(0x3C, kPe);
  u32(kPe, 0x00004550);
  u16(kPe + 4, 0x14C);
  u16(kPe + 6, 1);
  u16(kPe + 20, 0xE0);
  u16(kPe + 22, 0x0102);
  u16(kOptional, 0x10B);
  u32(kOptional + 4, 0x200);
  u32(kOptional + 28, 0x400000);
  u32(kOptional + 32, 0x1000);
  u32(kOptional + 36, 0x200);
  u16(kOptional + 40, 4);
  u16(kOptional + 48, 4);
  u32(kOptional + 56, 0x2000);
  u32(kOptional + 60, 0x200);
  u16(kOptional + 68, 3);
  u32(kOptional + 92, 16);
  const char name[] = ".text";
  std::copy(name, name + 5, image.begin() + kTable);
  u32(kTable + 8, 0x200);
  u32(kTable + 12, 0x1000);
  u32(kTable + 16, 0x200);
  u32(kTable + 20, 0x200);
  u32(kTable + 36, 0x60000020);
  if (full) std::fill(image.begin() + kTable + 40, image.begin() + 0x200, 0xAB);
  for (std::size_t i = 0x200; i < 0x400; ++i)
    image[i] = static_cast<std::uint8_t>(i * 7);
  return image;
}

} // namespace qm::stamp::test
