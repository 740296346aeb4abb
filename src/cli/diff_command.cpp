#include "cli/diff_command.h"

#include <CLI/CLI.hpp>

#include <memory>

#include "cli/version_source.h"

namespace qm::cli {

void AddDiffCommand(CLI::App &app, CommandContext &context) {
  struct Arguments {
    std::string a, b;
    bool json = false;
  };
  auto a = std::make_shared<Arguments>();
  CLI::App *diff = AddCommand(app, "diff", "List what differs between the version information of two files");
  diff->add_option("A", a->a, "module, block file or compiled resource file")->required();
  diff->add_option("B", a->b, "module, block file or compiled resource file")->required();
  diff->add_flag("--json", a->json, "print one JSON object instead of lines");
  diff->callback([a, &context] { context.Report(DiffVersions(a->a, a->b, a->json, ReadVersionSource, context.out)); });
}

} // namespace qm::cli
