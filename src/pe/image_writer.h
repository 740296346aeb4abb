#pragma once
// Writing the new module once its resource section is laid out and placed:
// for the planner, not for callers.
#include <cstdint>

#include "base/result.h"
#include "pe/byte_source.h"
#include "pe/image_layout.h"
#include "pe/new_file.h"
#include "pe/pe_image.h"

namespace qm::pe {

inline constexpr std::uint64_t kMaxFileSize = 0xFFFFFFFFu;

inline bool Overlaps(std::uint64_t aStart, std::uint64_t aLength, std::uint64_t bStart, std::uint64_t bLength) {
  return aStart < bStart + bLength && bStart < aStart + aLength;
}

// Builds the new file: `resourceSection` (laid out for plan.sectionRva)
// placed as planned, the tail after the image kept and moved, a certificate
// dropped, file offsets and sizes fixed, the checksum recomputed.
Result<NewFile> ApplyLayout(const ByteSource &image, const PeHeaders &headers, const LayoutPlan &plan,
                            const NewFile &resourceSection);

} // namespace qm::pe
