#include "cli/file_output.h"

#include "fileio/file_io.h"

namespace qm::cli {

std::optional<Failure> WriteOutputFile(const std::filesystem::path &path, std::string_view shown, std::string_view what,
                                       std::span<const std::uint8_t> bytes) {
  // An existing file keeps its owner, mode and, through a link, its place;
  // either way the file is written whole or not at all.
  auto held = fileio::HeldFile::Open(path, false);
  if (!held) return FailureFor(FileRole::Output, what, shown, held.failure());
  if (Status written = held->Replace(bytes); !written) {
    return FailureFor(FileRole::Output, what, shown, written.failure());
  }
  return std::nullopt;
}

} // namespace qm::cli
