#include "cli/set_command.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <memory>

#include "base/shown_text.h"
#include "cli/edit_arguments.h"
#include "cli/fields_json.h"
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

Result<Plan> PlanFromArguments(const SetArguments &a) {
  Plan plan;
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
Result<std::vector<StoredVersion>> EditVersions(const std::string &module, const Plan &plan, ModuleVersions &versions,
                                                const std::vector<std::uint16_t> &held) {
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

Status SetOne(const std::string &module, const Plan &plan, bool dryRun, stamp::StampOptions options,
              std::ostream &out) {
  options.dryRun = dryRun;
  std::vector<StoredVersion> stored;
  std::vector<std::uint16_t> held;
  QM_RETURN_IF_ERROR(EditModule(
      module,
      [&](ModuleVersions &versions) -> Status {
        held = versions.Languages();
        QM_UNWRAP_OR_RETURN(edited, EditVersions(module, plan, versions, held));
        stored = std::move(edited);
        return Ok();
      },
      options));
  // Only what a real run would write is shown.
  if (dryRun) PrintDryRun(module, stored, held, out);
  return Ok();
}

} // namespace

void AddSetCommand(CLI::App &app, CommandContext &context) {
  auto arguments = std::make_shared<SetArguments>();
  SetArguments &a = *arguments;
  CLI::App *set = AddCommand(app, "set", "Change a few things in each module's version information, keeping the rest");
  set->add_option("MODULE", a.modules, "modules to change, each written on its own (folders with --recursive)")
      ->required();
  auto single = [&](const char *name, std::optional<std::string> &target, const char *help) {
    set->add_option_function<std::string>(
        name, [&target](const std::string &value) { target = value; }, help);
  };
  single("--file-version", a.fileVersion,
         "[v]A[.B[.C[.D]]][TAIL] (such as 2.4.0-rc.1): the fixed file version takes the numbers, every table's "
         "\"FileVersion\" the text");
  single("--product-version", a.productVersion,
         "[v]A[.B[.C[.D]]][TAIL]: the fixed product version takes the numbers, every table's \"ProductVersion\" "
         "the text");
  single("--file-version-string", a.fileVersionString,
         "every table's \"FileVersion\" string only, the fixed part kept; wins over --file-version's text");
  single("--product-version-string", a.productVersionString,
         "every table's \"ProductVersion\" string only, the fixed part kept; wins over --product-version's text");
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
  AddWalkFlags(*set, a.walk);
  set->callback([arguments, &context] {
    for (Error &failure : SetCommand(*arguments, context.out, context.err))
      context.failures.push_back(std::move(failure));
  });
}

std::vector<Error> SetCommand(const SetArguments &arguments, std::ostream &out, std::ostream &err) {
  auto plan = PlanFromArguments(arguments);
  if (!plan) return {WithKind(ErrorKind::Usage, plan.failure())};
  const stamp::StampOptions options = ToStampOptions(arguments.stamp, err);
  std::vector<Error> failures;
  RunOverModules(arguments.modules, arguments.walk, false, out, err, failures,
                 [&](const std::string &module, std::ostream &shown) {
                   return SetOne(module, *plan, arguments.dryRun, options, shown);
                 });
  return failures;
}

stamp::ExitCode MostSerious(const std::vector<Error> &failures) {
  using stamp::ExitCode;
  // From worst to mildest: what went wrong while writing, then what the
  // module is, then what it holds, then the inputs; a difference a check
  // found is no failure of the program, and the mildest.
  static constexpr ExitCode kOrder[] = {
      ExitCode::Internal,        ExitCode::ModuleUnwritable,  ExitCode::NotAModule,       ExitCode::ModuleUnreadable,
      ExitCode::InputRefused,    ExitCode::NoVersionResource, ExitCode::WouldBreak,       ExitCode::FieldsInvalid,
      ExitCode::InputUnreadable, ExitCode::InputEmpty,        ExitCode::OutputUnwritable, ExitCode::Usage,
      ExitCode::Different};
  for (ExitCode code : kOrder) {
    for (const Error &failure : failures)
      if (stamp::ExitCodeFor(failure) == code) return code;
  }
  return failures.empty() ? ExitCode::Success : stamp::ExitCodeFor(failures.front());
}

} // namespace qm::cli
