#include "cli/set_command.h"

#include <CLI/CLI.hpp>

#include <algorithm>

#include "cli/edit_arguments.h"
#include "cli/module_versions.h"
#include "cli/show_report.h"
#include "codec/field_codes.h"
#include "codec/text_codec.h"
#include "codec/version_info_writer.h"
#include "codec/version_text.h"

namespace qm::cli {
namespace {

constexpr std::uint16_t kNewLanguage = 0x0409;

struct Plan {
  VersionEdit edit;
  std::optional<std::uint16_t> language;
};

template <typename T> Status Take(Result<T> result, T &target, const std::string &option = "") {
  if (!result) return Fail(option.empty() ? result.error() : option + ": " + result.error());
  target = std::move(*result);
  return Ok();
}

Status TakeVersion(const std::optional<std::string> &text, const char *option,
                   std::optional<std::array<std::uint16_t, 4>> &target) {
  if (!text) return Ok();
  auto parts = VersionFromText(*text);
  if (!parts) return Fail(std::string(option) + ": " + parts.error());
  target = *parts;
  return Ok();
}

Status TakeCode(const std::optional<std::string> &text, Result<std::uint32_t> (*parse)(std::string_view),
                std::optional<std::uint32_t> &target) {
  if (!text) return Ok();
  auto code = parse(*text);
  if (!code) return Fail(code.error());
  target = *code;
  return Ok();
}

Result<Plan> PlanFromArguments(const SetArguments &a) {
  Plan plan;
  VersionEdit &e = plan.edit;
  for (Status s :
       {TakeVersion(a.fileVersion, "--file-version", e.FileVersion),
        TakeVersion(a.productVersion, "--product-version", e.ProductVersion),
        TakeCode(a.fileOs, FileOsFromArgument, e.FileOs), TakeCode(a.fileType, FileTypeFromArgument, e.FileType),
        TakeCode(a.fileSubType, FileSubTypeFromArgument, e.FileSubType)}) {
    if (!s) return Fail(s.error());
  }
  if (a.table) {
    std::u16string key;
    if (Status s = Take(TableKeyFromArgument(*a.table), key); !s) return Fail(s.error());
    e.Table = key;
  }
  if (a.language) {
    std::uint16_t language = 0;
    if (Status s = Take(LanguageFromArgument(*a.language), language); !s) return Fail(s.error());
    plan.language = language;
  }
  for (const std::string &text : a.strings) {
    StringChange change;
    if (Status s = Take(StringChangeFromArgument(text), change); !s) return Fail(s.error());
    e.Strings.push_back(std::move(change));
  }
  for (const std::string &text : a.removed) {
    std::u16string key;
    if (Status s = Take(TextFromArgument(text), key, "--remove-string"); !s) return Fail(s.error());
    e.Removed.push_back(std::move(key));
  }
  for (const auto &[names, bits, option] :
       {std::tuple{&a.flags, &e.FlagsOn, "--flag"}, std::tuple{&a.noFlags, &e.FlagsOff, "--no-flag"}}) {
    for (const std::string &name : *names) {
      std::uint32_t bit = 0;
      if (Status s = Take(FlagBitFromName(name), bit, option); !s) return Fail(s.error());
      *bits |= bit;
    }
  }
  if ((e.FlagsOn & e.FlagsOff) != 0) return Fail("a flag is named by both --flag and --no-flag");
  // A key both set and removed has no meaning that order could give it.
  std::vector<std::u16string> setKeys;
  if (e.FileVersion) setKeys.push_back(u"FileVersion");
  if (e.ProductVersion) setKeys.push_back(u"ProductVersion");
  for (const StringChange &change : e.Strings)
    setKeys.push_back(change.Key);
  for (const std::u16string &removed : e.Removed) {
    for (const std::u16string &key : setKeys) {
      if (SameKey(key, removed))
        return Fail("--remove-string " + Quoted(Utf16ToUtf8(removed)) + ": the same string is also set");
    }
  }
  if (!e.ChangesFixedPart() && !e.ChangesStrings()) {
    return Fail("set: nothing to change; give at least one of --file-version, --product-version, --string, "
                "--remove-string, --flag, --no-flag, --file-os, --file-type, --file-subtype");
  }
  return plan;
}

// The version resources to write: those held (or only the one under
// --language), read and edited; or a new one when there are none.
std::optional<Failure> EditVersions(const std::string &module, const Plan &plan, ModuleVersions &versions,
                                    const std::vector<std::uint16_t> &held, std::vector<StoredVersion> &stored) {
  if (held.empty()) {
    // A module without version information gets one under the language
    // asked for; there is no other to keep apart from.
    const std::uint16_t language = plan.language.value_or(kNewLanguage);
    VersionInfo info = NewVersionInfo(language, versions.IsLibrary(), plan.edit.Table);
    ApplyEdit(plan.edit, language, info);
    if (auto failure = versions.Put({{language, info}})) return failure;
    stored.push_back({language, EncodeVersionInfo(info).value()});
    return std::nullopt;
  }
  std::vector<std::uint16_t> languages = held;
  if (plan.language) {
    if (std::find(held.begin(), held.end(), *plan.language) == held.end()) {
      std::string list;
      for (std::uint16_t language : held)
        list += (list.empty() ? "" : ", ") + LanguageText(language);
      return Failure{ExitCode::NoVersionResource, Quoted(module) + " has no version resource under language " +
                                                      LanguageText(*plan.language) + " (it has " + list +
                                                      "); it was not changed"};
    }
    languages = {*plan.language};
  }
  // Each block is encoded and put as it is edited, so a dry run fails where
  // the real one would.
  return versions.Edit(
      languages, [&](std::uint16_t language, VersionInfo &info) { ApplyEdit(plan.edit, language, info); }, stored);
}

// What would be stored, read back from the bytes that would be written.
void PrintDryRun(const std::string &module, const std::vector<StoredVersion> &stored,
                 const std::vector<std::uint16_t> &held, std::ostream &out) {
  out << Quoted(module) << " would hold:\n";
  for (const StoredVersion &version : stored) {
    auto info = ReadVersionInfo(version.Block.Span());
    ShownOrigin origin{"module", version.Language, {}, std::nullopt};
    for (std::uint16_t language : held)
      if (language != version.Language) origin.otherLanguages.push_back(language);
    out << ShowAsText(info.value(), origin);
  }
  out.flush();
}

std::optional<Failure> SetOne(const std::string &module, const Plan &plan, bool dryRun, const StampOptions &options,
                              std::ostream &out) {
  return EditModule(module, !dryRun, [&](ModuleVersions &versions) -> std::optional<Failure> {
    const std::vector<std::uint16_t> held = versions.Languages();
    std::vector<StoredVersion> stored;
    if (auto failure = EditVersions(module, plan, versions, held, stored)) return failure;
    if (dryRun) PrintDryRun(module, stored, held, out);
    return std::nullopt;
  }, options);
}

} // namespace

CLI::App *AddSetCommand(CLI::App &app, SetArguments &a) {
  CLI::App *set =
      app.add_subcommand("set", "Change a few things in each module's version information, keeping the rest");
  set->fallthrough(false);
  set->add_option("MODULE", a.modules, "modules to change, each written on its own")->required();
  auto single = [&](const char *name, std::optional<std::string> &target, const char *help) {
    set->add_option_function<std::string>(
        name, [&target](const std::string &value) { target = value; }, help);
  };
  single("--file-version", a.fileVersion, "A.B.C.D: the fixed file version and every table's \"FileVersion\"");
  single("--product-version", a.productVersion,
         "A.B.C.D: the fixed product version and every table's \"ProductVersion\"");
  set->add_option("--string", a.strings, "KEY=VALUE: the first string of that key in each table, appended if missing")
      ->allow_extra_args(false);
  set->add_option("--remove-string", a.removed, "KEY: remove every string of that key")->allow_extra_args(false);
  single("--table", a.table, "KEY8 (such as 040904B0): change strings in this table only");
  set->add_option("--flag", a.flags, "set a flag: debug, prerelease, patched, privatebuild, specialbuild, infoinferred")
      ->allow_extra_args(false);
  set->add_option("--no-flag", a.noFlags, "clear a flag (the same names)")->allow_extra_args(false);
  single("--file-os", a.fileOs, "a number or a File OS list item, such as \"NT (WINDOWS32)\"");
  single("--file-type", a.fileType, "a number or a File Type list item, such as APP");
  single("--file-subtype", a.fileSubType, "a number or a File SubType list item");
  single("--language", a.language,
         "hexadecimal language id: change only the version resource under it, or make a new one under it");
  set->add_flag("--dry-run", a.dryRun, "change nothing; print what would be written, as show prints it");
  AddStampFlags(*set, a.stamp);
  return set;
}

std::vector<Failure> SetCommand(const SetArguments &arguments, std::ostream &out, std::ostream &err) {
  auto plan = PlanFromArguments(arguments);
  if (!plan) return {Failure{ExitCode::Usage, plan.error()}};
  const StampOptions options = ToStampOptions(arguments.stamp, err);
  std::vector<Failure> failures;
  for (const std::string &module : arguments.modules) {
    if (auto failure = SetOne(module, *plan, arguments.dryRun, options, out)) failures.push_back(std::move(*failure));
  }
  return failures;
}

ExitCode MostSerious(const std::vector<Failure> &failures) {
  // From worst to mildest: what went wrong while writing, then what the
  // module is, then what it holds, then the inputs.
  static constexpr ExitCode kOrder[] = {
      ExitCode::Internal,     ExitCode::ModuleUnwritable,  ExitCode::NotAModule,    ExitCode::ModuleUnreadable,
      ExitCode::InputRefused, ExitCode::NoVersionResource, ExitCode::WouldBreak,     ExitCode::FieldsInvalid,
      ExitCode::InputUnreadable, ExitCode::InputEmpty,     ExitCode::OutputUnwritable, ExitCode::Usage};
  for (ExitCode code : kOrder) {
    for (const Failure &failure : failures)
      if (failure.code == code) return code;
  }
  return failures.empty() ? ExitCode::Success : failures.front().code;
}

} // namespace qm::cli
