// Whatever resource script the reader accepts, the writer prints (or
// refuses with Invalid, for a table key that is not plain ASCII), and the
// reader reads that print back to the same information and language.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "codec/rc_script_reader.h"
#include "codec/rc_script_writer.h"

namespace {

bool SameInformation(const qm::VersionInfo &a, const qm::VersionInfo &b) {
  const qm::FixedFileInfo &x = a.Fixed, &y = b.Fixed;
  if (x.FileMajor != y.FileMajor || x.FileMinor != y.FileMinor || x.FileRelease != y.FileRelease ||
      x.FileBuild != y.FileBuild || x.ProdMajor != y.ProdMajor || x.ProdMinor != y.ProdMinor ||
      x.ProdRelease != y.ProdRelease || x.ProdBuild != y.ProdBuild || x.FlagsMask != y.FlagsMask ||
      x.Flags != y.Flags || x.FileOs != y.FileOs || x.FileType != y.FileType || x.FileSubType != y.FileSubType)
    return false;
  if (a.Tables.size() != b.Tables.size() || a.Translations.size() != b.Translations.size()) return false;
  for (std::size_t i = 0; i < a.Tables.size(); ++i)
    if (a.Tables[i].Key != b.Tables[i].Key || a.Tables[i].Strings != b.Tables[i].Strings) return false;
  for (std::size_t i = 0; i < a.Translations.size(); ++i)
    if (a.Translations[i].Language != b.Translations[i].Language ||
        a.Translations[i].CodePage != b.Translations[i].CodePage)
      return false;
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  qm::ScriptOptions onlyVersion;
  onlyVersion.OnlyVersion = true;
  (void)qm::ReadResourceScript(text, onlyVersion);
  qm::Result<qm::ParsedScript> parsed = qm::ReadResourceScript(text);
  if (!parsed) return 0;
  qm::Result<std::string> script = qm::ToResourceScript(parsed->Info, parsed->Language);
  if (!script) {
    if (script.kind() != qm::ErrorKind::Invalid) std::abort();
    return 0;
  }
  qm::Result<qm::ParsedScript> again = qm::ReadResourceScript(*script);
  if (!again || !SameInformation(again->Info, parsed->Info) || again->Language != parsed->Language) std::abort();
  return 0;
}
