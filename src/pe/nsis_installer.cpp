#include "pe/nsis_installer.h"

#include <algorithm>
#include <cstring>

#include "pe/pe_layout.h"
#include "pe/text.h"

#include <zlib.h>

namespace qm::pe {
namespace {

// The first header: flags, a magic number, "NullsoftInst", the length of
// the compressed headers, the length of all the data from here on.
constexpr std::uint8_t kSignature[16] = {0xEF, 0xBE, 0xAD, 0xDE, 'N', 'u', 'l', 'l',
                                         's',  'o',  'f',  't',  'I', 'n', 's', 't'};
constexpr std::uint64_t kFirstHeaderSize = 28;
constexpr std::uint32_t kFlagsMask = 0xF;
constexpr std::uint32_t kFlagNoCrc = 4;
constexpr std::uint32_t kFlagForceCrc = 8;
// The header follows the installer's program directly; a search this far
// past the image finds it in any installer the build tools make, and keeps
// the work of a module with a large unrelated tail bounded.
constexpr std::uint64_t kSearchSpan = 1u << 20;
constexpr std::uint64_t kChunk = 1u << 20;

// CRC-32 (zlib's polynomial, which the installer uses), carried across
// pieces: zlib's running value chains directly. zlib counts in 32 bits, so
// a long piece goes in parts.
std::uint32_t CrcAdd(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
  constexpr std::size_t kPart = std::size_t{1} << 30;
  while (!bytes.empty()) {
    const std::size_t n = std::min(bytes.size(), kPart);
    crc = static_cast<std::uint32_t>(crc32(crc, bytes.data(), static_cast<uInt>(n)));
    bytes = bytes.subspan(n);
  }
  return crc;
}

std::uint32_t Le32(const std::uint8_t *p) {
  return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

} // namespace

bool NsisHeader::Checked() const { return (flags & kFlagForceCrc) != 0 || (flags & kFlagNoCrc) == 0; }

std::optional<NsisHeader> FindNsisHeader(const ByteSource &file, const PeHeaders &headers) {
  const std::uint64_t size = file.Size();
  std::uint64_t at = AlignUp(std::max(headers.ImageFileEnd(), kNsisBlock), kNsisBlock);
  const std::uint64_t stop = std::min(size, at + kSearchSpan);
  for (; at + kFirstHeaderSize <= stop; at += kNsisBlock) {
    std::uint8_t h[kFirstHeaderSize];
    if (!file.ReadAt(at, h)) return std::nullopt;
    if (std::memcmp(h + 4, kSignature, sizeof kSignature) != 0) continue;
    NsisHeader header{at, Le32(h), Le32(h + 24)};
    // As the installer itself takes it: unknown flags mean no header; a
    // length past the file's end means a broken installer.
    if ((header.flags & ~kFlagsMask) != 0) continue;
    if (header.dataLength < kFirstHeaderSize + (header.Checked() ? 4 : 0) || header.dataLength > size - at)
      return std::nullopt;
    return header;
  }
  return std::nullopt;
}

Result<std::uint32_t> NsisCrcOf(const ByteSource &file, const NsisHeader &header) {
  std::uint32_t state = 0;
  std::vector<std::uint8_t> buffer;
  for (std::uint64_t at = kNsisBlock; at < header.CrcAt();) {
    buffer.resize(static_cast<std::size_t>(std::min(kChunk, header.CrcAt() - at)));
    if (!file.ReadAt(at, buffer)) return Fail(Cat("cannot read ", buffer.size(), " bytes of the module at ", Hex(at)));
    state = CrcAdd(state, buffer);
    at += buffer.size();
  }
  return state;
}

std::optional<std::string> NsisUnkeepable(const NsisHeader &header, std::optional<std::uint64_t> newAt,
                                          std::uint64_t checksumAt) {
  if (!newAt) return std::string("its data would not stay in one piece");
  if (*newAt % kNsisBlock != 0)
    return Cat("its data would move to ", Hex(*newAt), ", where the installer does not look for it (only at ",
               "multiples of 512)");
  // The CRC would cover the PE checksum, which in turn covers the CRC.
  if (header.Checked() && checksumAt + 4 > kNsisBlock)
    return Cat("its CRC covers the PE checksum at ", Hex(checksumAt), ", so the two cannot both be made right");
  return std::nullopt;
}

Result<std::optional<FilePatch>> NsisCrcPatch(const ByteSource &old, const PeHeaders &headers, const NewFile &next) {
  const auto header = FindNsisHeader(old, headers);
  if (!header || !header->Checked()) return std::optional<FilePatch>();
  const auto newAt = next.Map(header->at, header->dataLength);
  if (NsisUnkeepable(*header, newAt, headers.CheckSumOffset())) return std::optional<FilePatch>();
  // A CRC that is already wrong stays as it was: the stamp does not
  // vouch for an installer that did not check out before.
  const auto stored = old.U32(header->CrcAt());
  QM_UNWRAP_OR_RETURN(before, NsisCrcOf(old, *header));
  if (!stored || *stored != before) return std::optional<FilePatch>();

  const std::uint64_t crcAt = *newAt + header->dataLength - 4;
  std::uint32_t state = 0;
  std::uint64_t position = 0;
  const Status summed = next.ForEachChunk(old, [&](std::span<const std::uint8_t> chunk) {
    const std::uint64_t begin = std::max(position, kNsisBlock), end = std::min(position + chunk.size(), crcAt);
    if (begin < end)
      state = CrcAdd(state,
                     chunk.subspan(static_cast<std::size_t>(begin - position), static_cast<std::size_t>(end - begin)));
    position += chunk.size();
    return Ok();
  });
  if (!summed) return summed.failure();
  const std::uint32_t crc = state;
  FilePatch patch{crcAt,
                  {static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8),
                   static_cast<std::uint8_t>(crc >> 16), static_cast<std::uint8_t>(crc >> 24)}};
  return std::optional<FilePatch>(patch);
}

} // namespace qm::pe
