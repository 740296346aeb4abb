#pragma once
// The check an NSIS installer makes of the file it lies in, and how a stamp
// keeps it right: the installer's data follows the image, and a CRC-32 at
// its end covers the file from byte 512 on, the image included.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "base/result.h"
#include "pe/byte_source.h"
#include "pe/new_file.h"
#include "pe/pe_image.h"

namespace qm::pe {

// The first header of an NSIS installer: it stands at an offset that is a
// multiple of 512 (the installer searches for it block by block), and
// `dataLength` counts from it to the end of the installer's data, the CRC
// included when there is one.
struct NsisHeader {
  std::uint64_t at = 0;
  std::uint32_t flags = 0;
  std::uint32_t dataLength = 0;

  // The installer checks its CRC unless it was built without one; a forced
  // check wins over the flag that turns it off.
  bool Checked() const;
  std::uint64_t CrcAt() const { return at + dataLength - 4; }
};
inline constexpr std::uint64_t kNsisBlock = 512;

std::optional<NsisHeader> FindNsisHeader(const ByteSource &file, const PeHeaders &headers);

// The installer's CRC as it computes it: CRC-32 of the file from byte 512
// (the first block is left out, so that signing and the PE checksum do not
// disturb it) up to the stored value.
Result<std::uint32_t> NsisCrcOf(const ByteSource &file, const NsisHeader &header);

// Why the installer could not work in the new file, where `newAt` is where
// its header lands (nothing when its data was not kept in one piece).
std::optional<std::string> NsisUnkeepable(const NsisHeader &header, std::optional<std::uint64_t> newAt,
                                          std::uint64_t checksumAt);

struct FilePatch {
  std::uint64_t at = 0;
  std::array<std::uint8_t, 4> bytes{};
};

// For an NSIS installer whose CRC is right in the old file: the CRC of the
// new file (`next`, its PE checksum not yet summed) and where it goes. None
// when there is no such installer, its CRC is off or already wrong, or it
// cannot be kept right (see NsisUnkeepable).
Result<std::optional<FilePatch>> NsisCrcPatch(const ByteSource &old, const PeHeaders &headers, const NewFile &next);

} // namespace qm::pe
