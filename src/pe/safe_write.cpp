#include "pe/safe_write.h"

#include "fileio/file_io.h"

namespace qm::pe {

Status ReplaceFileContents(const std::filesystem::path &path, std::span<const std::uint8_t> contents) {
  auto held = fileio::HeldFile::Open(path, false);
  if (!held) return Fail(held.kind(), path.string() + ": " + held.error());
  if (Status replaced = held->Replace(contents); !replaced) {
    return Fail(replaced.kind(), path.string() + ": " + replaced.error());
  }
  return Ok();
}

} // namespace qm::pe
