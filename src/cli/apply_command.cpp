#include "cli/apply_command.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <memory>
#include <vector>

#include "base/shown_text.h"
#include "cli/apply_edit.h"
#include "cli/argument_path.h"
#include "cli/edit_arguments.h"
#include "cli/info_json.h"
#include "cli/module_versions.h"
#include "cli/script_files.h"
#include "cli/script_input.h"
#include "codec/block_layout.h"
#include "pe/version_reader.h"

namespace qm::cli {

namespace {

Result<InfoFromJson> ReadInformation(const ApplyArguments &a) {
  QM_UNWRAP_OR_RETURN(text,
                      stamp::ReadWholeInput(ArgumentPath(a.infoFile), a.infoFile, "information file", FileRole::Input));
  ScriptFiles files(a.infoFile, a.script);
  return InformationFromText(text, a.infoFile, a.script, files.Place());
}

} // namespace

Status ApplyCommand(const ApplyArguments &a, std::ostream &err) {
  std::optional<std::uint16_t> language;
  if (a.language) {
    auto parsed = LanguageFromArgument(*a.language);
    if (!parsed) return WithKind(ErrorKind::Usage, parsed.failure());
    language = *parsed;
  }
  QM_UNWRAP_OR_RETURN(parsed, ReadInformation(a));
  return EditModule(
      a.module, [&](ModuleVersions &versions) { return ApplyInformation(parsed, language, versions); },
      ToStampOptions(a.stamp, err));
}

void AddApplyCommand(CLI::App &app, CommandContext &context) {
  auto a = std::make_shared<ApplyArguments>();
  CLI::App *apply =
      AddCommand(app, "apply", "Write a module's whole version information from show --json's or a script's form");
  apply->add_option("MODULE", a->module, "module to change")->required();
  apply
      ->add_option("INFO", a->infoFile,
                   "JSON file as show --json prints it, or resource script with one VERSIONINFO (by content)")
      ->required();
  apply->add_option_function<std::string>(
      "--language", [a](const std::string &value) { a->language = value; },
      "hexadecimal language id to store under (instead of the file's \"language\" or LANGUAGE)");
  AddScriptFlags(*apply, a->script);
  AddStampFlags(*apply, a->stamp);
  apply->callback([a, &context] { context.Report(ApplyCommand(*a, context.err)); });
}

} // namespace qm::cli
