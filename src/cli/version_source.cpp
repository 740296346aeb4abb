#include "cli/version_source.h"

#include "cli/argument_path.h"
#include "pe/file_kind.h"
#include "stamp/module_file.h"
#include "stamp/module_injection.h"

namespace qm::cli {

Result<SourcedVersion> ReadVersionSource(const std::string &file, std::optional<std::uint16_t> language) {
  if (file != "-") {
    auto opened = stamp::ModuleFile::Open(ArgumentPath(file));
    if (opened && pe::SniffFileKind(**opened) == pe::FileKind::PeModule)
      return VersionFromModuleImage(**opened, file, language);
  }
  QM_UNWRAP_OR_RETURN(bytes, stamp::ReadWholeInput(ArgumentPath(file), file, "file", FileRole::Input));
  return VersionFromWholeBytes(bytes, file, language);
}

} // namespace qm::cli
