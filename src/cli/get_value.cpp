#include "cli/get_value.h"

#include <nlohmann/json.hpp>

#include "base/shown_text.h"
#include "cli/edit_arguments.h"
#include "cli/show_report.h"
#include "codec/text_codec.h"
#include "codec/version_query.h"

namespace qm::cli {
namespace {

using Json = nlohmann::ordered_json;

// Names compare without letter case and without '-', so file-version and
// fileversion both name show's fileVersion.
std::string Folded(std::string_view name) {
  std::string folded;
  for (char c : name) {
    if (c == '-' || c == '_') continue;
    folded += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return folded;
}

// The fixed part's members are those show --json prints only when there is
// a fixed part; a default one has a name for every code, so every member.
std::vector<std::string> FixedMemberNames() {
  VersionInfo with;
  with.HasFixedPart = true;
  const Json withFixed = Json::parse(ShowAsJson(with, {}));
  const Json withoutFixed = Json::parse(ShowAsJson(VersionInfo{}, {}));
  std::vector<std::string> names;
  for (const auto &[name, ignored] : withFixed.items())
    if (!withoutFixed.contains(name)) names.push_back(name);
  return names;
}

Result<std::string> FixedMemberName(std::string_view asked) {
  std::string list;
  for (const std::string &name : FixedMemberNames()) {
    if (Folded(name) == Folded(asked)) return name;
    list += (list.empty() ? "" : ", ") + name;
  }
  return Fail(ErrorKind::Usage, "--fixed: " + Quoted(asked) + " is not a member of the fixed part; they are " + list);
}

// A member as one line: a text as it is, a number in decimal as show --json
// writes it, a list of names joined by ", ".
std::string MemberLine(const Json &value) {
  if (value.is_string()) return value.get<std::string>();
  if (!value.is_array()) return value.dump();
  std::string line;
  for (const Json &item : value)
    line += (line.empty() ? "" : ", ") + (item.is_string() ? item.get<std::string>() : item.dump());
  return line;
}

Status PrintFixed(const std::string &file, const SourcedVersion &source, const std::string &name, std::ostream &out) {
  const Json shown = Json::parse(ShowAsJson(source.Info, {}));
  if (!shown.contains(name)) {
    const char *why =
        source.Info.HasFixedPart ? " is absent: its number has no name" : " is absent: there is no fixed part";
    return Fail(ErrorKind::Different, Quoted(file) + ": " + name + why);
  }
  out << EscapeControls(MemberLine(shown[name])) << "\n";
  return Ok();
}

Status PrintString(const std::string &file, const SourcedVersion &source, const std::u16string &key,
                   const std::optional<std::u16string> &tableKey, std::ostream &out) {
  const StringTable *table = TableToRead(source.Info, tableKey);
  if (!table) {
    std::string why = Quoted(file) + " has no string table";
    if (tableKey) why.append(" ").append(Utf16ToUtf8(*tableKey));
    return Fail(ErrorKind::Different, why);
  }
  const DecodedString *found = FindString(*table, key);
  if (!found) {
    return Fail(ErrorKind::Different, Quoted(file) + ": no string " + Quoted(Utf16ToUtf8(key)) + " in table " +
                                          Quoted(Utf16ToUtf8(table->Key)));
  }
  out << EscapeControls(Utf16ToUtf8(found->Value)) << "\n";
  return Ok();
}

} // namespace

Status GetValue(const GetArguments &a, const VersionReader &read, std::ostream &out) {
  if (a.key.has_value() == a.fixed.has_value()) return Fail(ErrorKind::Usage, "get: give either a KEY or --fixed NAME");
  if (a.fixed && a.table) return Fail(ErrorKind::Usage, "get: --table names a string table; --fixed reads none");
  std::optional<std::uint16_t> language;
  if (a.language) {
    QM_UNWRAP_OR_RETURN(parsed, LanguageFromArgument(*a.language));
    language = parsed;
  }
  std::optional<std::u16string> table;
  if (a.table) {
    QM_UNWRAP_OR_RETURN(parsed, TableKeyFromArgument(*a.table));
    table = std::move(parsed);
  }
  if (a.fixed) {
    QM_UNWRAP_OR_RETURN(name, FixedMemberName(*a.fixed));
    QM_UNWRAP_OR_RETURN(source, read(a.file, language));
    return PrintFixed(a.file, source, name, out);
  }
  QM_UNWRAP_OR_RETURN(key, TextFromArgument(*a.key));
  QM_UNWRAP_OR_RETURN(source, read(a.file, language));
  return PrintString(a.file, source, key, table, out);
}

} // namespace qm::cli
