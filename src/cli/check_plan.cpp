#include "cli/check_plan.h"

#include "base/shown_text.h"
#include "cli/command_context.h"
#include "cli/edit_arguments.h"
#include "codec/field_codes.h"
#include "codec/text_codec.h"
#include "codec/version_query.h"

namespace qm::cli {
namespace {

// The value's own refusal, as a usage error of the option that carried it.
template <typename T> Result<T> ForOption(const char *option, Result<T> value) {
  if (value) return value;
  return WithKind(ErrorKind::Usage, Context(std::string(option) + ": ", value.failure()));
}

std::string PartsText(const VersionParts &p) { return Utf16ToUtf8(VersionString(p)); }
std::string QuotedText(std::u16string_view text) { return Quoted(Utf16ToUtf8(text)); }

// The differences of one file, each one line naming the file.
struct Findings {
  const std::string &file;
  std::vector<Error> found;

  void Differ(const std::string &what, const std::string &asked, const std::string &held) {
    found.push_back(Error{Quoted(file) + ": " + what + ": asked " + asked + ", holds " + held, ErrorKind::Different});
  }
};

// Where the strings are looked for, as the messages name it.
std::string TableWhere(const StringTable *table, const CheckPlan &plan) {
  if (table) return " in table " + QuotedText(table->Key);
  return plan.Table ? " in table " + QuotedText(*plan.Table) : std::string(" (there is no string table)");
}

void CheckString(Findings &f, const StringTable *table, const CheckPlan &plan, std::u16string_view key,
                 std::u16string_view asked) {
  const DecodedString *held = table ? FindString(*table, key) : nullptr;
  if (held && held->Value == asked) return;
  f.Differ("string " + QuotedText(key) + TableWhere(table, plan), QuotedText(asked),
           held ? QuotedText(held->Value) : std::string(table ? "none" : "no such table"));
}

// The numbers of the fixed part, and for a version written other than as
// plain A.B.C.D its text in the string as well: the numbers cannot carry
// "-rc.1", so only the string can show it was stamped.
void CheckVersion(Findings &f, const char *what, const WrittenVersion &asked, const VersionInfo &info,
                  const VersionParts &held, const StringTable *table, const CheckPlan &plan, std::u16string_view key) {
  if (!info.HasFixedPart) {
    f.Differ(what, PartsText(asked.Parts), "no fixed part");
  } else if (held != asked.Parts) {
    f.Differ(what, PartsText(asked.Parts), PartsText(held));
  }
  if (!asked.Plain) CheckString(f, table, plan, key, asked.Text);
}

void CheckFlags(Findings &f, const VersionInfo &info, const CheckPlan &plan) {
  for (const FlagItem &flag : kFileFlagsTable) {
    const bool wantOn = (plan.FlagsOn & flag.bit) != 0, wantOff = (plan.FlagsOff & flag.bit) != 0;
    if (!wantOn && !wantOff) continue;
    const std::string what = "flag " + std::string(flag.argName);
    if (!info.HasFixedPart) {
      f.Differ(what, wantOn ? "set" : "clear", "no fixed part");
    } else if (((info.Fixed.Flags & flag.bit) != 0) != wantOn) {
      f.Differ(what, wantOn ? "set" : "clear", wantOn ? "clear" : "set");
    }
  }
}

Status TakeVersion(const std::optional<std::string> &text, const char *option, std::optional<WrittenVersion> &to) {
  if (!text) return Ok();
  QM_UNWRAP_OR_RETURN(version, ForOption(option, VersionFromWrittenText(*text)));
  to = std::move(version);
  return Ok();
}

Status TakeFlags(const std::vector<std::string> &names, const char *option, std::uint32_t &bits) {
  for (const std::string &name : names) {
    QM_UNWRAP_OR_RETURN(bit, ForOption(option, FlagBitFromName(name)));
    bits |= bit;
  }
  return Ok();
}

} // namespace

Result<CheckPlan> CheckPlanFromArguments(const CheckArguments &a) {
  CheckPlan plan;
  QM_RETURN_IF_ERROR(TakeVersion(a.fileVersion, "--file-version", plan.FileVersion));
  QM_RETURN_IF_ERROR(TakeVersion(a.productVersion, "--product-version", plan.ProductVersion));
  for (const std::string &text : a.strings) {
    QM_UNWRAP_OR_RETURN(change, StringChangeFromArgument(text));
    plan.Strings.push_back(std::move(change));
  }
  QM_RETURN_IF_ERROR(TakeFlags(a.flags, "--flag", plan.FlagsOn));
  QM_RETURN_IF_ERROR(TakeFlags(a.noFlags, "--no-flag", plan.FlagsOff));
  if ((plan.FlagsOn & plan.FlagsOff) != 0)
    return Fail(ErrorKind::Usage, "a flag is named by both --flag and --no-flag");
  if (a.table) {
    QM_UNWRAP_OR_RETURN(key, TableKeyFromArgument(*a.table));
    plan.Table = std::move(key);
  }
  if (a.language) {
    QM_UNWRAP_OR_RETURN(language, LanguageFromArgument(*a.language));
    plan.Language = language;
  }
  if (!plan.FileVersion && !plan.ProductVersion && plan.Strings.empty() && plan.FlagsOn == 0 && plan.FlagsOff == 0) {
    return Fail(ErrorKind::Usage, "check: nothing to check; give at least one of --file-version, --product-version, "
                                  "--string, --flag, --no-flag");
  }
  return plan;
}

std::vector<Error> CheckOne(const std::string &file, const CheckPlan &plan, const VersionReader &read) {
  auto source = read(file, plan.Language);
  if (!source) return {source.failure()};
  const VersionInfo &info = source->Info;
  const FixedFileInfo &x = info.Fixed;
  const StringTable *table = TableToRead(info, plan.Table);
  Findings f{file, {}};
  if (plan.FileVersion) {
    CheckVersion(f, "file version", *plan.FileVersion, info, {x.FileMajor, x.FileMinor, x.FileRelease, x.FileBuild},
                 table, plan, u"FileVersion");
  }
  if (plan.ProductVersion) {
    CheckVersion(f, "product version", *plan.ProductVersion, info,
                 {x.ProdMajor, x.ProdMinor, x.ProdRelease, x.ProdBuild}, table, plan, u"ProductVersion");
  }
  for (const StringChange &asked : plan.Strings)
    CheckString(f, table, plan, asked.Key, asked.Value);
  CheckFlags(f, info, plan);
  return std::move(f.found);
}

} // namespace qm::cli
