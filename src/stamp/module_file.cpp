#include "stamp/module_file.h"

#include <system_error>

namespace qm::stamp {

Result<std::unique_ptr<ModuleFile>> ModuleFile::Open(const std::filesystem::path &path) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec == std::errc::permission_denied) return Fail(ErrorKind::Denied, path.string() + ": permission denied");
  if (!std::filesystem::exists(status)) return Fail(ErrorKind::Missing, path.string() + ": it does not exist");
  // Reading at random offsets needs a file that holds still: not a pipe.
  if (!std::filesystem::is_regular_file(status)) {
    return Fail(ErrorKind::NotRegular, path.string() + ": it is not a regular file");
  }
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return Fail(ErrorKind::Unreadable, path.string() + ": cannot open: " + ec.message());
  std::unique_ptr<ModuleFile> source(new ModuleFile());
  source->file_.open(path, std::ios::binary);
  if (!source->file_) return Fail(ErrorKind::Unreadable, path.string() + ": cannot open for reading");
  source->size_ = size;
  return source;
}

bool ModuleFile::ReadDirect(std::uint64_t offset, std::span<std::uint8_t> out) const {
  file_.clear();
  file_.seekg(static_cast<std::streamoff>(offset));
  file_.read(reinterpret_cast<char *>(out.data()), static_cast<std::streamsize>(out.size()));
  return file_ && file_.gcount() == static_cast<std::streamsize>(out.size());
}

Result<std::optional<pe::FoundResource>> ReadVersionResource(const std::filesystem::path &path,
                                                             std::uint16_t userLanguage) {
  QM_UNWRAP_OR_RETURN(source, ModuleFile::Open(path));
  auto found = pe::ReadVersionResource(*source, userLanguage);
  if (!found) return Context(path.string() + ": ", found.failure());
  return found;
}

} // namespace qm::stamp
