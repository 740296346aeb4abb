#include "stamp/module_injection.h"

#include "base/shown_text.h"
#include "fileio/file_io.h"
#include "pe/byte_source.h"

namespace qm::stamp {
namespace {

// The held module read in place: only the headers, the resource tree and
// the resources are ever read; the rest goes from file to file.
class HeldSource final : public pe::PagedSource {
public:
  explicit HeldSource(const fileio::HeldFile &file) : file_(file) {}
  std::uint64_t Size() const override { return file_.Size(); }

private:
  bool ReadDirect(std::uint64_t offset, std::span<std::uint8_t> out) const override {
    return file_.ReadAt(offset, out);
  }
  const fileio::HeldFile &file_;
};

} // namespace

Result<std::vector<std::uint8_t>> ReadWholeInput(const std::filesystem::path &path, std::string_view shown,
                                                 std::string_view what, FileRole role) {
  auto bytes = shown == "-" ? fileio::ReadStandardInput() : fileio::ReadInput(path);
  if (!bytes) return FileError(role, what, shown == "-" ? "standard input" : shown, bytes.failure());
  return bytes;
}

Result<std::vector<std::uint8_t>> ReadBlockFile(const std::filesystem::path &path, std::string_view shown) {
  QM_UNWRAP_OR_RETURN(bytes, ReadWholeInput(path, shown, "block file", FileRole::Input));
  if (bytes.empty()) {
    return Error{"the block file " + Quoted(shown) + " is empty; the module was not changed", ErrorKind::Empty,
                 FileRole::Input};
  }
  return bytes;
}

Status UpdateModule(const std::filesystem::path &path, std::string_view shown,
                    const std::function<Status(pe::ResourceUpdate &)> &change, const StampOptions &options) {
  auto held = fileio::HeldFile::Open(path, true);
  if (!held) return FileError(FileRole::Target, "module", shown, held.failure());
  if (held->Size() > fileio::kMaxInputBytes) {
    return FileError(
        FileRole::Target, "module", shown,
        Fail(ErrorKind::TooLarge, "it is larger than " + std::to_string(fileio::kMaxInputBytes) + " bytes"));
  }
  const auto source = std::make_shared<const HeldSource>(*held);
  auto stamped = StampImage(source, shown, change, options);
  if (source->ReadFailed())
    return FileError(FileRole::Target, "module", shown, Fail(ErrorKind::Unreadable, "reading it failed part way"));
  if (!stamped) return stamped.failure();
  // A dry run stops here, with the new module composed and checked as a
  // real stamp's, so it fails where that would, and nothing written.
  if (options.dryRun) return Ok();
  Status written = held->Replace([&](fileio::ContentSink &out) { return stamped->file.WriteTo(out); });
  if (!written) return FileError(FileRole::Target, "module", shown, written.failure());
  TellStamped(*stamped, shown, options);
  return Ok();
}

Status StoreVersionResource(const std::filesystem::path &path, std::string_view shown,
                            std::span<const std::uint8_t> data, const StampOptions &options) {
  return UpdateModule(path, shown, PutVersionResource(data), options);
}

} // namespace qm::stamp
