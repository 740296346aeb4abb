#include "cli/apply_command.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <vector>

#include "cli/argument_path.h"
#include "cli/edit_arguments.h"
#include "cli/info_json.h"
#include "cli/module_versions.h"
#include "codec/block_layout.h"
#include "pe/version_reader.h"

namespace qm::cli {

CLI::App *AddApplyCommand(CLI::App &app, ApplyArguments &a) {
  CLI::App *apply =
      app.add_subcommand("apply", "Write a module's whole version information from a file in show --json's form");
  apply->fallthrough(false);
  apply->add_option("MODULE", a.module, "module to change")->required();
  apply->add_option("INFO", a.infoFile, "JSON file as show --json prints it")->required();
  apply->add_option_function<std::string>(
      "--language", [&a](const std::string &value) { a.language = value; },
      "hexadecimal language id to store under (instead of the file's \"language\")");
  AddStampFlags(*apply, a.stamp);
  return apply;
}

std::optional<Failure> ApplyCommand(const ApplyArguments &a, std::ostream &err) {
  std::optional<std::uint16_t> language;
  if (a.language) {
    auto parsed = LanguageFromArgument(*a.language);
    if (!parsed) return Failure{ExitCode::Usage, parsed.error()};
    language = *parsed;
  }
  std::vector<std::uint8_t> text;
  if (auto failure = ReadWholeInput(ArgumentPath(a.infoFile), a.infoFile, "information file",
                                    FileRole::Input, text)) {
    return failure;
  }
  auto parsed = VersionInfoFromJson(std::string_view(reinterpret_cast<const char *>(text.data()), text.size()));
  if (!parsed) {
    return Failure{ExitCode::FieldsInvalid,
                   "the information file " + Quoted(a.infoFile) + " is refused: " + parsed.error()};
  }

  return EditModule(a.module, true, [&](ModuleVersions &versions) -> std::optional<Failure> {
    const std::vector<std::uint16_t> held = versions.Languages();
    // The command line wins over the file; without either, the resource
    // show would read is the one replaced.
    std::uint16_t target = pe::kLanguageUsEnglish;
    if (language) {
      target = *language;
    } else if (parsed->Language) {
      target = *parsed->Language;
    } else if (!held.empty()) {
      target = pe::ChooseLanguage(held, pe::kLanguageUsEnglish);
    }
    VersionInfo info = parsed->Info;
    // show does not print the structure version: keep the stored one.
    VersionInfo stored;
    if (info.HasFixedPart && std::find(held.begin(), held.end(), target) != held.end() &&
        !versions.Read(target, stored) && stored.HasFixedPart) {
      info.Fixed.StrucVersion = stored.Fixed.StrucVersion;
    }
    return versions.Put({{target, std::move(info)}});
  }, ToStampOptions(a.stamp, err));
}

} // namespace qm::cli
