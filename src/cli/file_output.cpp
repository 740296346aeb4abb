#include "cli/file_output.h"

#include <system_error>

#include "pe/safe_write.h"

namespace qm::cli {

std::optional<Failure> WriteOutputFile(const std::filesystem::path &path, std::string_view shown, std::string_view what,
                                       std::span<const std::uint8_t> bytes) {
  // An existing file keeps its permissions and, through a link, its place;
  // either way the file is written whole or not at all.
  Status written = pe::ReplaceFileContents(path, bytes);
  if (!written) {
    return Failure{ExitCode::OutputUnwritable,
                   std::string("cannot write the ").append(what).append(" ").append(Quoted(shown)).append(": ") +
                       written.error()};
  }
  return std::nullopt;
}

} // namespace qm::cli
