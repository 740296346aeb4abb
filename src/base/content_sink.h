#pragma once
// Where a new file's contents go, in order. Bytes of the file it replaces
// can be copied in without passing through the program (in the kernel,
// where the system offers it). The writer of modules produces into it; the
// file layer holds the files behind it.
#include <cstdint>
#include <span>

#include "base/result.h"

namespace qm {

class ContentSink {
public:
  virtual ~ContentSink() = default;
  virtual Status Write(std::span<const std::uint8_t> bytes) = 0;
  // Appends [offset, offset + length) of the held file.
  virtual Status CopyHeld(std::uint64_t offset, std::uint64_t length) = 0;
  // Overwrites bytes already written; only after the last append.
  virtual Status WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) = 0;
};

} // namespace qm
