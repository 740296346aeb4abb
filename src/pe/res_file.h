#pragma once
// Compiled resource files as resource compilers write them: a sequence of
// resource headers and data, the first one empty.
#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"
#include "pe/resource_id.h"

namespace qm::pe {

struct ResFileEntry {
  ResourceId type{0};
  ResourceId name{0};
  std::uint16_t language = 0;
  std::uint16_t memoryFlags = 0;
  std::uint32_t dataVersion = 0;
  std::uint32_t version = 0;
  std::uint32_t characteristics = 0;
  std::vector<std::uint8_t> data;
};

// Every resource in the file, in file order, without the leading empty
// entry.
Result<std::vector<ResFileEntry>> ParseResFile(std::span<const std::uint8_t> bytes);

} // namespace qm::pe
