#include "pe/file_kind.h"

#include <algorithm>
#include <array>

namespace qm::pe {

FileKind SniffFileKind(const ByteSource &source) {
  const auto head = source.Bytes(0, 2);
  if (head && (*head)[0] == 'M' && (*head)[1] == 'Z') {
    const auto peOffset = source.U32(0x3C);
    if (peOffset && source.U32(*peOffset) == 0x00004550u) return FileKind::PeModule;
    return FileKind::Other;
  }
  // The empty entry that opens a compiled resource file: no data, a 32-byte
  // header, type 0 and name 0 as integer ids.
  static constexpr std::array<std::uint8_t, 16> kResStart = {0,    0,    0, 0, 0x20, 0,    0, 0,
                                                             0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};
  const auto start = source.Bytes(0, kResStart.size());
  if (start && std::equal(kResStart.begin(), kResStart.end(), start->begin())) return FileKind::CompiledResources;
  return FileKind::Other;
}

FileKind SniffFileKind(std::span<const std::uint8_t> bytes) { return SniffFileKind(MemorySource(bytes)); }

Result<FileKind> SniffFile(const std::filesystem::path &path) {
  auto source = FileSource::Open(path);
  if (!source) return Fail(source.error());
  return SniffFileKind(**source);
}

} // namespace qm::pe
