#include "cli/file_output.h"

#include <fstream>
#include <system_error>

#include "pe/safe_write.h"

namespace qm::cli {

std::optional<Failure> WriteOutputFile(const std::filesystem::path &path, std::string_view shown, std::string_view what,
                                       std::span<const std::uint8_t> bytes) {
  namespace fs = std::filesystem;
  const std::string prefix =
      std::string("cannot write the ").append(what).append(" ").append(Quoted(shown)).append(": ");
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (fs::is_directory(status)) return Failure{ExitCode::OutputUnwritable, prefix + "it is a folder"};
  if (fs::exists(status)) {
    // An existing file keeps its permissions and, through a link, its place.
    Status replaced = pe::ReplaceFileContents(path, bytes);
    if (!replaced) return Failure{ExitCode::OutputUnwritable, prefix + replaced.error()};
    return std::nullopt;
  }
  fs::path temp = path;
  temp += ".quillmark-tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return Failure{ExitCode::OutputUnwritable, prefix + "the folder cannot take a new file"};
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      out.close();
      fs::remove(temp, ec);
      return Failure{ExitCode::OutputUnwritable, prefix + "the write failed"};
    }
  }
  fs::rename(temp, path, ec);
  if (ec) {
    const std::string reason = ec.message();
    fs::remove(temp, ec);
    return Failure{ExitCode::OutputUnwritable, prefix + reason};
  }
  return std::nullopt;
}

} // namespace qm::cli
