#include "cli/stamp_flags.h"

#include <CLI/CLI.hpp>

namespace qm::cli {

void AddStampFlags(CLI::App &command, StampFlags &flags) {
  command.add_flag("--force", flags.force,
                   "stamp even a module whose appended data checks the file in a way the stamp cannot keep right "
                   "(an Inno Setup installer, a WiX Burn bundle)");
  command
      .add_option("--signed", flags.signedModules,
                  "remove (the default): stamp a signed module, which loses its signature; refuse: leave a "
                  "signed module as it is (exit code 12)")
      ->check(CLI::IsMember({"remove", "refuse"}));
}

stamp::StampOptions ToStampOptions(const StampFlags &flags, std::ostream &err) {
  stamp::StampOptions options;
  options.force = flags.force;
  options.signedModules = flags.signedModules == "refuse" ? stamp::SignedPolicy::Refuse : stamp::SignedPolicy::Remove;
  options.notice = [&err](const std::string &line) {
    err << "quillmark-cli: " << line << "\n";
    err.flush();
  };
  return options;
}

} // namespace qm::cli
