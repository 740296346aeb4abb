#include "cli/file_output.h"

#include "base/shown_text.h"
#include "cli/argument_path.h"
#include "fileio/file_io.h"
#include "stamp/module_injection.h"

namespace qm::cli {

Status WriteOutputFile(const std::filesystem::path &path, std::string_view shown, std::string_view what,
                       std::span<const std::uint8_t> bytes) {
  // An existing file keeps its owner, mode and, through a link, its place;
  // either way the file is written whole or not at all.
  auto held = fileio::HeldFile::Open(path, false);
  if (!held) return stamp::FileError(FileRole::Output, what, shown, held.failure());
  if (Status written = held->Replace(bytes); !written) {
    return stamp::FileError(FileRole::Output, what, shown, written.failure());
  }
  return Ok();
}

Status RefuseOutputOverInput(const std::string &output, std::string_view outputWhat, const std::string &input,
                             std::string_view inputWhat) {
  const std::filesystem::path outputPath = ArgumentPath(output);
  const bool same =
      input == "-" ? fileio::IsStandardInput(outputPath) : fileio::SameFile(ArgumentPath(input), outputPath);
  if (!same) return Ok();
  const std::string source = input == "-" ? "the standard input" : "the " + std::string(inputWhat);
  return Error{"the " + std::string(outputWhat) + " " + Quoted(output) + " is the same file as " + source +
                   "; nothing was written",
               ErrorKind::CannotWrite, FileRole::Output};
}

} // namespace qm::cli
