// Both readers of version blocks over arbitrary bytes: neither may crash,
// hang or read past the data. What the general reader accepts, the editor's
// decoder must also take without complaint.
#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/decoder.h"
#include "codec/version_info_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::span<const std::uint8_t> bytes(data, size);
  qm::DecodedVersionBlock decoded = qm::DecodeVersionBlock(bytes);
  // Each decoded row took at least two bytes of the data (its length word).
  if (decoded.Strings.size() > size / 2 + 1) __builtin_trap();
  qm::Result<qm::VersionInfo> info = qm::ReadVersionInfo(bytes);
  if (info) {
    std::size_t rows = 0;
    for (const qm::StringTable &table : info->Tables)
      rows += table.Strings.size();
    if (rows > size / 6) __builtin_trap();
  }
  return 0;
}
