#pragma once
// Little-endian values appended to a block, with lengths patched in
// afterwards: what both the editor's encoder and the general writer write
// through.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "base/byte_reader.h"

namespace qm {

class LeWriter {
public:
  explicit LeWriter(std::vector<std::uint8_t> &bytes) : bytes_(bytes) {}

  void U16(std::uint16_t value) {
    bytes_.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
  }
  void U32(std::uint32_t value) {
    U16(static_cast<std::uint16_t>(value & 0xFFFF));
    U16(static_cast<std::uint16_t>(value >> 16));
  }
  // UTF-16 units, without a terminator.
  void Text(std::u16string_view text) {
    for (char16_t unit : text)
      U16(unit);
  }
  // Zero bytes up to the next multiple of four.
  void Align() {
    while (bytes_.size() % 4 != 0)
      bytes_.push_back(0);
  }
  void PatchU16(std::size_t at, std::uint16_t value) { PutU16(bytes_, at, value); }
  void PatchU32(std::size_t at, std::uint32_t value) { PutU32(bytes_, at, value); }

  std::size_t size() const { return bytes_.size(); }

private:
  std::vector<std::uint8_t> &bytes_;
};

} // namespace qm
