#include "cli/argument_path.h"
#include "cli/module_versions.h"

namespace qm::cli {

Status EditModule(const std::string &module, const std::function<Status(ModuleVersions &)> &edit,
                  const stamp::StampOptions &options) {
  return EditVersionsWith(module, edit, [&](const stamp::ResourceChange &change) {
    return stamp::UpdateModule(ArgumentPath(module), module, change, options);
  });
}

} // namespace qm::cli
