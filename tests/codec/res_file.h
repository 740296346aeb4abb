#pragma once
// Reading the version block out of a compiled resource file (.res) that the
// mingw resource compiler writes, and running that compiler.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "base/byte_reader.h"

namespace qm::test {

// A .res file is a row of entries, each a header and DWORD-aligned data:
// DataSize, HeaderSize, TYPE and NAME (0xFFFF and a number, or a UTF-16
// string), DataVersion, MemoryFlags, LanguageId, Version, Characteristics.
// The first entry is an empty one of 32 bytes.
inline std::optional<std::vector<std::uint8_t>> VersionResourceFromRes(const std::vector<std::uint8_t> &file) {
  ByteReader res(file);
  std::size_t pos = 0;
  while (pos + 8 <= file.size()) {
    std::uint32_t dataSize = *res.u32(pos);
    std::uint32_t headerSize = *res.u32(pos + 4);
    std::optional<std::uint16_t> typeMark = res.u16(pos + 8);
    std::optional<std::uint16_t> typeId = res.u16(pos + 10);
    if (!typeMark || headerSize < 16 || !res.has(pos + headerSize, dataSize)) return std::nullopt;
    if (*typeMark == 0xFFFF && *typeId == 16) {
      const std::uint8_t *data = file.data() + pos + headerSize;
      return std::vector<std::uint8_t>(data, data + dataSize);
    }
    pos += headerSize + dataSize;
    pos = (pos + 3) & ~std::size_t{3};
  }
  return std::nullopt;
}

// Compiles rcFile with the resource compiler found at configure time; empty
// when there is none or it fails.
inline std::optional<std::vector<std::uint8_t>> CompileVersionResource(const std::filesystem::path &rcFile,
                                                                       const std::string &windres) {
  if (windres.empty()) return std::nullopt;
  std::filesystem::path out = std::filesystem::current_path() / (rcFile.stem().string() + ".res");
  std::string command = "\"" + windres + "\" -i \"" + rcFile.string() + "\" -o \"" + out.string() + "\" -O res";
  if (std::system(command.c_str()) != 0) return std::nullopt;
  std::ifstream in(out, std::ios::binary);
  std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return VersionResourceFromRes(file);
}

} // namespace qm::test
