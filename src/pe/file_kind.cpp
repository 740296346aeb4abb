#include "pe/file_kind.h"

#include <algorithm>
#include <array>

#include "pe/pe_layout.h"

namespace qm::pe {

FileKind SniffFileKind(const ByteSource &source) {
  const auto head = source.Bytes(0, 2);
  if (head && (*head)[0] == 'M' && (*head)[1] == 'Z') {
    const auto peOffset = source.U32(kLfanewAt);
    if (peOffset && source.U32(*peOffset) == kPeSignature) return FileKind::PeModule;
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

} // namespace qm::pe
