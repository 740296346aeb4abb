#include "cli/apply_command.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <memory>
#include <vector>

#include "base/shown_text.h"
#include "cli/argument_path.h"
#include "cli/edit_arguments.h"
#include "cli/info_json.h"
#include "cli/module_versions.h"
#include "cli/script_input.h"
#include "codec/block_layout.h"
#include "pe/version_reader.h"

namespace qm::cli {

namespace {

// JSON or a resource script, told apart by content; both give the same
// information and the language the file names, if any.
Result<InfoFromJson> ReadInformation(const ApplyArguments &a) {
  QM_UNWRAP_OR_RETURN(text,
                      stamp::ReadWholeInput(ArgumentPath(a.infoFile), a.infoFile, "information file", FileRole::Input));
  if (!LooksLikeJson(text)) return VersionInfoFromScript(text, a.infoFile, a.script);
  auto parsed = VersionInfoFromJson(std::string_view(reinterpret_cast<const char *>(text.data()), text.size()));
  if (!parsed) {
    Error error = Context("the information file " + Quoted(a.infoFile) + " is refused: ", parsed.failure());
    return InRole(FileRole::Input, WithKind(ErrorKind::Invalid, std::move(error)));
  }
  return parsed;
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
      a.module,
      [&](ModuleVersions &versions) -> Status {
        const std::vector<std::uint16_t> held = versions.Languages();
        // The command line wins over the file (its "language" member or its
        // LANGUAGE statement); without either, the resource
        // show would read is the one replaced.
        std::uint16_t target = pe::kLanguageUsEnglish;
        if (language) {
          target = *language;
        } else if (parsed.Language) {
          target = *parsed.Language;
        } else if (!held.empty()) {
          target = pe::ChooseLanguage(held, pe::kLanguageUsEnglish);
        }
        VersionInfo info = parsed.Info;
        // Neither show --json nor a script says the structure version: keep
        // the stored one.
        if (info.HasFixedPart && std::find(held.begin(), held.end(), target) != held.end()) {
          if (auto stored = versions.Read(target); stored && stored->HasFixedPart) {
            info.Fixed.StrucVersion = stored->Fixed.StrucVersion;
          }
        }
        return versions.Put({{target, std::move(info)}});
      },
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
