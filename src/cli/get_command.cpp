#include "cli/get_command.h"

#include <CLI/CLI.hpp>

#include <memory>

#include "cli/version_source.h"

namespace qm::cli {

void AddGetCommand(CLI::App &app, CommandContext &context) {
  auto a = std::make_shared<GetArguments>();
  CLI::App *get = AddCommand(app, "get", "Print one string or fixed-part member of the version information");
  get->add_option("FILE", a->file, "module, block file or compiled resource file (told apart by content)")->required();
  get->add_option("KEY", a->key, "the string's key, found as the platform's version lookup finds it");
  get->add_option("--fixed", a->fixed, "NAME: a member of the fixed part, as show --json names it (fileVersion, ...)");
  get->add_option("--table", a->table, "KEY8 (such as 040904B0): read this string table, not the first translation's");
  get->add_option("--language", a->language, "hexadecimal language id: read the version resource under it");
  get->callback([a, &context] {
    context.Report(GetValue(*a, ReadVersionSource, context.out));
    context.out.flush();
  });
}

} // namespace qm::cli
