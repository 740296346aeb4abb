// Whatever the general reader accepts, the general encoder writes back, and
// reading that gives the same information; written once more, the bytes no
// longer change. The only refusal allowed is a block grown past 65535
// bytes (a block may have left out value terminators the standard layout
// writes).
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "codec/version_info_reader.h"
#include "codec/version_info_writer.h"

namespace {

bool SameInformation(const qm::VersionInfo &a, const qm::VersionInfo &b) {
  const qm::FixedFileInfo &x = a.Fixed, &y = b.Fixed;
  if (a.HasFixedPart != b.HasFixedPart) return false;
  if (a.HasFixedPart && (x.StrucVersion != y.StrucVersion || x.FileMajor != y.FileMajor || x.FileMinor != y.FileMinor ||
                         x.FileRelease != y.FileRelease || x.FileBuild != y.FileBuild || x.ProdMajor != y.ProdMajor ||
                         x.ProdMinor != y.ProdMinor || x.ProdRelease != y.ProdRelease || x.ProdBuild != y.ProdBuild ||
                         x.FlagsMask != y.FlagsMask || x.Flags != y.Flags || x.FileOs != y.FileOs ||
                         x.FileType != y.FileType || x.FileSubType != y.FileSubType || x.FileDate != y.FileDate)) {
    return false;
  }
  if (a.Tables.size() != b.Tables.size() || a.Translations.size() != b.Translations.size()) return false;
  for (std::size_t i = 0; i < a.Tables.size(); ++i) {
    if (a.Tables[i].Key != b.Tables[i].Key || a.Tables[i].Strings != b.Tables[i].Strings) return false;
  }
  for (std::size_t i = 0; i < a.Translations.size(); ++i) {
    if (a.Translations[i].Language != b.Translations[i].Language ||
        a.Translations[i].CodePage != b.Translations[i].CodePage) {
      return false;
    }
  }
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  qm::Result<qm::VersionInfo> info = qm::ReadVersionInfo(std::span<const std::uint8_t>(data, size));
  if (!info) return 0;
  qm::Result<std::vector<std::uint8_t>> written = qm::EncodeVersionInfo(*info);
  if (!written) {
    if (written.error().find("65536") == std::string::npos) __builtin_trap();
    return 0;
  }
  qm::Result<qm::VersionInfo> again = qm::ReadVersionInfo(*written);
  if (!again || !SameInformation(*info, *again)) __builtin_trap();
  qm::Result<std::vector<std::uint8_t>> twice = qm::EncodeVersionInfo(*again);
  if (!twice || *twice != *written) __builtin_trap();
  return 0;
}
