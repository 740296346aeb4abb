#include "pe/safe_write.h"

#include <fstream>
#include <random>
#include <system_error>

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

} // namespace

Status ReplaceFileContents(const fs::path &path, std::span<const std::uint8_t> contents) {
  std::error_code ec;
  // A link is followed, so the file it names gets the new contents and the
  // link stays a link.
  fs::path target = fs::is_symlink(path, ec) ? fs::canonical(path, ec) : path;
  if (ec) return Fail(Cat(path.string(), ": cannot resolve the link: ", ec.message()));
  const fs::file_status status = fs::status(target, ec);
  if (ec) return Fail(Cat(target.string(), ": ", ec.message()));

  TempFile temp(TempNameBeside(target));
  {
    std::ofstream out(temp.path(), std::ios::binary | std::ios::trunc);
    if (!out) return Fail(Cat(temp.path().string(), ": cannot create the temporary file"));
    out.write(reinterpret_cast<const char *>(contents.data()), static_cast<std::streamsize>(contents.size()));
    out.flush();
    if (!out) return Fail(Cat(temp.path().string(), ": write failed"));
  }
  fs::permissions(temp.path(), status.permissions(), fs::perm_options::replace, ec);
  if (ec) return Fail(Cat(temp.path().string(), ": cannot copy the permissions: ", ec.message()));
  fs::rename(temp.path(), target, ec);
  if (ec) return Fail(Cat(target.string(), ": cannot replace the file: ", ec.message()));
  temp.Keep();
  return Ok();
}

} // namespace qm::pe
