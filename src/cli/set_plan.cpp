#include "cli/set_plan.h"

#include <algorithm>

#include "base/shown_text.h"
#include "cli/edit_arguments.h"
#include "cli/show_report.h"
#include "codec/field_codes.h"
#include "codec/text_codec.h"
#include "codec/version_info_reader.h"
#include "codec/version_info_writer.h"
#include "codec/version_text.h"

namespace qm::cli {
namespace {

constexpr std::uint16_t kNewLanguage = 0x0409;

template <typename T> Status Take(Result<T> result, T &target, const std::string &option = "") {
  if (!result) return option.empty() ? result.failure() : Context(option + ": ", result.failure());
  target = std::move(*result);
  return Ok();
}

// --file-version and --file-version-string (or the product's pair) as the
// edit takes them; the string option wins for the string.
Status TakeVersions(const std::optional<std::string> &written, const std::optional<std::string> &string,
                    const std::string &option, std::optional<VersionParts> &parts,
                    std::optional<std::u16string> &text) {
  std::optional<WrittenVersion> version;
  std::optional<std::u16string> ownText;
  if (written) {
    QM_UNWRAP_OR_RETURN(taken, WrittenVersionFromArgument(option, *written));
    version = std::move(taken);
  }
  if (string) {
    std::u16string taken;
    QM_RETURN_IF_ERROR(Take(TextFromArgument(*string), taken, option + "-string"));
    ownText = std::move(taken);
  }
  TakeVersion(version, ownText, parts, text);
  return Ok();
}

Status TakeCode(const std::optional<std::string> &text, Result<std::uint32_t> (*parse)(std::string_view),
                std::optional<std::uint32_t> &target) {
  if (!text) return Ok();
  auto code = parse(*text);
  if (!code) return code.failure();
  target = *code;
  return Ok();
}

} // namespace

Result<SetPlan> PlanFromArguments(const SetEditArguments &a) {
  SetPlan plan;
  VersionEdit &e = plan.edit;
  for (Status s :
       {TakeVersions(a.fileVersion, a.fileVersionString, "--file-version", e.FileVersion, e.FileVersionText),
        TakeVersions(a.productVersion, a.productVersionString, "--product-version", e.ProductVersion,
                     e.ProductVersionText),
        TakeCode(a.fileOs, FileOsFromArgument, e.FileOs), TakeCode(a.fileType, FileTypeFromArgument, e.FileType),
        TakeCode(a.fileSubType, FileSubTypeFromArgument, e.FileSubType)}) {
    QM_RETURN_IF_ERROR(s);
  }
  if (a.table) {
    std::u16string key;
    QM_RETURN_IF_ERROR(Take(TableKeyFromArgument(*a.table), key));
    e.Table = key;
  }
  if (a.language) {
    std::uint16_t language = 0;
    QM_RETURN_IF_ERROR(Take(LanguageFromArgument(*a.language), language));
    plan.language = language;
  }
  for (const std::string &text : a.strings) {
    StringChange change;
    QM_RETURN_IF_ERROR(Take(StringChangeFromArgument(text), change));
    e.Strings.push_back(std::move(change));
  }
  for (const std::string &text : a.removed) {
    std::u16string key;
    QM_RETURN_IF_ERROR(Take(TextFromArgument(text), key, "--remove-string"));
    e.Removed.push_back(std::move(key));
  }
  for (const auto &[names, bits, option] :
       {std::tuple{&a.flags, &e.FlagsOn, "--flag"}, std::tuple{&a.noFlags, &e.FlagsOff, "--no-flag"}}) {
    for (const std::string &name : *names) {
      std::uint32_t bit = 0;
      QM_RETURN_IF_ERROR(Take(FlagBitFromName(name), bit, option));
      *bits |= bit;
    }
  }
  if ((e.FlagsOn & e.FlagsOff) != 0) return Fail(ErrorKind::Usage, "a flag is named by both --flag and --no-flag");
  // A key both set and removed has no meaning that order could give it.
  std::vector<StringChange> sets = e.VersionStrings();
  sets.insert(sets.end(), e.Strings.begin(), e.Strings.end());
  for (const std::u16string &removed : e.Removed) {
    for (const StringChange &set : sets) {
      if (SameKey(set.Key, removed))
        return Fail(ErrorKind::Usage,
                    "--remove-string " + Quoted(Utf16ToUtf8(removed)) + ": the same string is also set");
    }
  }
  if (!e.ChangesFixedPart() && !e.ChangesStrings()) {
    return Fail(ErrorKind::Usage,
                "set: nothing to change; give at least one of --file-version, --product-version, "
                "--file-version-string, --product-version-string, --string, --remove-string, --flag, --no-flag, "
                "--file-os, --file-type, --file-subtype");
  }
  return plan;
}

// The version resources to write: those held (or only the one under
// --language), read and edited; or a new one when there are none.
Result<std::vector<StoredVersion>> EditVersions(const std::string &module, const SetPlan &plan,
                                                ModuleVersions &versions, const std::vector<std::uint16_t> &held) {
  if (held.empty()) {
    // A module without version information gets one under the language
    // asked for; there is no other to keep apart from.
    const std::uint16_t language = plan.language.value_or(kNewLanguage);
    VersionInfo info = NewVersionInfo(language, versions.IsLibrary(), plan.edit.Table);
    ApplyEdit(plan.edit, language, info);
    QM_RETURN_IF_ERROR(versions.Put({{language, info}}));
    return std::vector<StoredVersion>{{language, EncodeVersionInfo(info).value()}};
  }
  std::vector<std::uint16_t> languages = held;
  if (plan.language) {
    if (std::find(held.begin(), held.end(), *plan.language) == held.end()) {
      std::string list;
      for (std::uint16_t language : held)
        list += (list.empty() ? "" : ", ") + LanguageText(language);
      return Error{Quoted(module) + " has no version resource under language " + LanguageText(*plan.language) +
                       " (it has " + list + "); it was not changed",
                   ErrorKind::NoVersion, FileRole::Target};
    }
    languages = {*plan.language};
  }
  // Each block is encoded and put as it is edited, so a dry run fails where
  // the real one would.
  return versions.Edit(languages,
                       [&](std::uint16_t language, VersionInfo &info) { ApplyEdit(plan.edit, language, info); });
}

std::string DryRunText(const std::string &module, const std::vector<StoredVersion> &stored,
                       const std::vector<std::uint16_t> &held) {
  std::string text = Quoted(module) + " would hold:\n";
  for (const StoredVersion &version : stored) {
    auto info = ReadVersionInfo(version.Block.Span());
    ShownOrigin origin{"module", version.Language, {}, std::nullopt};
    for (std::uint16_t language : held)
      if (language != version.Language) origin.otherLanguages.push_back(language);
    text += ShowAsText(info.value(), origin);
  }
  return text;
}

} // namespace qm::cli
