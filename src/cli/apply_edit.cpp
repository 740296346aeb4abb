#include "cli/apply_edit.h"

#include <algorithm>

#include "base/shown_text.h"
#include "cli/command_context.h"
#include "cli/script_input.h"
#include "pe/version_reader.h"

namespace qm::cli {

// JSON or a resource script, told apart by content; both give the same
// information and the language the file names, if any.
Result<InfoFromJson> InformationFromText(std::span<const std::uint8_t> text, const std::string &shown,
                                         const ScriptFlags &flags, const ScriptPlace &place) {
  if (!LooksLikeJson(text)) return VersionInfoFromScript(text, shown, flags, place);
  auto parsed = VersionInfoFromJson(std::string_view(reinterpret_cast<const char *>(text.data()), text.size()));
  if (!parsed) {
    Error error = Context("the information file " + Quoted(shown) + " is refused: ", parsed.failure());
    return InRole(FileRole::Input, WithKind(ErrorKind::Invalid, std::move(error)));
  }
  return parsed;
}

Status ApplyInformation(const InfoFromJson &parsed, std::optional<std::uint16_t> language, ModuleVersions &versions) {
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
}

} // namespace qm::cli
