#include "pe/safe_write.h"

#include <cstdio>
#include <random>
#include <system_error>

#if defined(_WIN32)
#include <io.h> // _commit, _fileno: the C runtime's flush to disk
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "pe/text.h"

namespace qm::pe {
namespace {

namespace fs = std::filesystem;

// Removes the temporary file unless it has been renamed into place.
class TempFile {
public:
  explicit TempFile(fs::path path) : path_(std::move(path)) {}
  TempFile(const TempFile &) = delete;
  TempFile &operator=(const TempFile &) = delete;
  ~TempFile() {
    if (!kept_) {
      std::error_code ignored;
      fs::remove(path_, ignored);
    }
  }
  const fs::path &path() const { return path_; }
  void Keep() { kept_ = true; }

private:
  fs::path path_;
  bool kept_ = false;
};

fs::path TempNameBeside(const fs::path &target) {
  std::random_device random;
  std::error_code ec;
  for (int attempt = 0; attempt < 16; ++attempt) {
    fs::path candidate = target;
    candidate += Cat(".", Hex(random()).substr(2), ".tmp");
    if (!fs::exists(candidate, ec)) return candidate;
  }
  fs::path fallback = target;
  return fallback += ".quillmark.tmp";
}

// Writes the file and asks the system to put it on the disk before it is
// renamed into place: without that, a crash shortly after the rename can
// leave an empty or partial file under the original's name on some file
// systems.
Status WriteToDisk(const fs::path &path, std::span<const std::uint8_t> contents) {
#if defined(_WIN32)
  std::FILE *file = _wfopen(path.c_str(), L"wb");
#else
  std::FILE *file = std::fopen(path.c_str(), "wb");
#endif
  if (!file) return Fail(Cat(path.string(), ": cannot create the temporary file"));
  bool written = contents.empty() || std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
  written = std::fflush(file) == 0 && written;
#if defined(_WIN32)
  written = _commit(_fileno(file)) == 0 && written;
#else
  written = fsync(fileno(file)) == 0 && written;
#endif
  written = std::fclose(file) == 0 && written;
  if (!written) return Fail(Cat(path.string(), ": write failed"));
  return Ok();
}

// Makes the rename itself durable where the system allows a folder to be
// flushed; elsewhere the rename is as durable as the system makes it.
void FlushFolder([[maybe_unused]] const fs::path &folder) {
#if !defined(_WIN32)
  const int handle = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (handle >= 0) {
    fsync(handle);
    close(handle);
  }
#endif
}

} // namespace

Status ReplaceFileContents(const fs::path &path, std::span<const std::uint8_t> contents) {
  std::error_code ec;
  // A link is followed, so the file it names gets the new contents and the
  // link stays a link.
  fs::path target = path;
  if (fs::is_symlink(fs::symlink_status(path, ec))) {
    target = fs::canonical(path, ec);
    if (ec) return Fail(Cat(path.string(), ": cannot resolve the link: ", ec.message()));
  }
  ec.clear();
  const fs::file_status status = fs::status(target, ec);
  const bool exists = fs::exists(status);
  if (ec && !exists) ec.clear(); // a new file: nothing to keep
  if (ec) return Fail(Cat(target.string(), ": ", ec.message()));
  if (fs::is_directory(status)) return Fail(Cat(target.string(), ": it is a folder"));

  TempFile temp(TempNameBeside(target));
  if (Status written = WriteToDisk(temp.path(), contents); !written) return written;
  if (exists) {
    fs::permissions(temp.path(), status.permissions(), fs::perm_options::replace, ec);
    if (ec) return Fail(Cat(temp.path().string(), ": cannot copy the permissions: ", ec.message()));
  }
  fs::rename(temp.path(), target, ec);
  if (ec) return Fail(Cat(target.string(), ": cannot replace the file: ", ec.message()));
  temp.Keep();
  FlushFolder(target.parent_path());
  return Ok();
}

} // namespace qm::pe
