#include "cli/info_json.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <string>

#include "base/shown_text.h"
#include "cli/fields_json.h"
#include "codec/block_layout.h"
#include "codec/field_codes.h"
#include "codec/text_codec.h"
#include "codec/version_text.h"

namespace qm::cli {
namespace {

using nlohmann::json;

std::string Show(const json &value) { return JsonExcerpt(value); }
std::string ShowName(const std::string &name) {
  // Appended rather than "\"" + ...: see Quoted in base/shown_text.h.
  std::string shown(1, '"');
  shown += TextExcerpt(name);
  shown += '"';
  return shown;
}
// Whatever an information file holds that cannot be taken makes it invalid.
Error Invalid(std::string message) { return Fail(ErrorKind::Invalid, std::move(message)); }

Result<std::uint64_t> Number(const json &value, const std::string &where, std::uint64_t max) {
  if (!value.is_number_unsigned() || value.get<std::uint64_t>() > max) {
    return Invalid(where + ": expected a whole number from 0 to " + std::to_string(max) + ", not " + Show(value));
  }
  return value.get<std::uint64_t>();
}

Result<std::u16string> Text(const json &value, const std::string &where) {
  if (!value.is_string()) return Invalid(where + ": expected a text, not " + Show(value));
  std::u16string text = Utf8ToUtf16(value.get<std::string>());
  if (text.find(u'\0') != std::u16string::npos) return Invalid(where + ": a text may not contain \\u0000");
  return text;
}

// fileOs, fileType and fileSubType take a number or a list item's text, as
// the fields file does.
Result<std::uint32_t> Code(const json &value, const std::string &where,
                           Result<std::uint32_t> (*fromText)(std::string_view)) {
  if (value.is_string()) {
    auto code = fromText(value.get<std::string>());
    if (!code) return Context(where + ": ", code.failure());
    return code;
  }
  QM_UNWRAP_OR_RETURN(number, Number(value, where, 0xFFFFFFFFu));
  return static_cast<std::uint32_t>(number);
}

// A version as people write it gives the fixed part its numbers; the string
// tables are written as the file lists them, so a "v" or a tail that only a
// string could keep is not kept.
Status Version(const json &value, const std::string &where, std::uint16_t &major, std::uint16_t &minor,
               std::uint16_t &release, std::uint16_t &build) {
  if (!value.is_string()) {
    return Invalid(where + ": expected a text such as \"1.2.3.4\" or \"v2.4.0-rc.1\", not " + Show(value));
  }
  auto version = VersionFromWrittenText(value.get<std::string>());
  if (!version) return Context(where + ": ", version.failure());
  const VersionParts &parts = version->Parts;
  major = parts[0], minor = parts[1], release = parts[2], build = parts[3];
  return Ok();
}

Result<StringTable> TableFromJson(const json &value, const std::string &where) {
  if (!value.is_object()) return Invalid(where + ": expected {\"key\": ..., \"strings\": [...]}, not " + Show(value));
  for (const auto &[member, ignored] : value.items()) {
    if (member != "key" && member != "strings") {
      return Invalid(where + ": unknown member " + ShowName(member) + "; a table has key and strings");
    }
  }
  if (!value.contains("key")) return Invalid(where + ": the member \"key\" is missing");
  StringTable table;
  QM_UNWRAP_OR_RETURN(key, Text(value["key"], where + ".key"));
  table.Key = std::move(key);
  if (!value.contains("strings")) return table;
  const json &strings = value["strings"];
  if (!strings.is_array()) return Invalid(where + ".strings: expected an array of [key, value] pairs");
  for (std::size_t i = 0; i < strings.size(); ++i) {
    const std::string at = where + ".strings[" + std::to_string(i) + "]";
    const json &pair = strings[i];
    if (!pair.is_array() || pair.size() != 2) return Invalid(at + ": expected a pair [key, value], not " + Show(pair));
    QM_UNWRAP_OR_RETURN(k, Text(pair[0], at));
    QM_UNWRAP_OR_RETURN(v, Text(pair[1], at));
    table.Strings.push_back({std::move(k), std::move(v)});
  }
  return table;
}

Result<std::vector<Translation>> TranslationsFromJson(const json &value) {
  if (!value.is_array()) return Invalid("translations: expected an array of [language, codePage] pairs");
  std::vector<Translation> translations;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const std::string at = "translations[" + std::to_string(i) + "]";
    if (!value[i].is_array() || value[i].size() != 2) return Invalid(at + ": expected [language, codePage]");
    QM_UNWRAP_OR_RETURN(language, Number(value[i][0], at, 0xFFFF));
    QM_UNWRAP_OR_RETURN(codePage, Number(value[i][1], at, 0xFFFF));
    translations.push_back({static_cast<std::uint16_t>(language), static_cast<std::uint16_t>(codePage)});
  }
  return translations;
}

// A list name must be what show would print for the number beside it.
Status CheckName(const json &root, const char *member, const json &expected) {
  if (!root.contains(member)) return Ok();
  if (root[member] != expected) {
    return Invalid(std::string(member) + ": " + Show(root[member]) + " does not name the number beside it (" +
                   (expected.is_null() ? std::string("it has no name") : "that is " + Show(expected)) +
                   "); change the number, or leave the name out");
  }
  return Ok();
}

Status CheckNames(const json &root, const FixedFileInfo &f) {
  auto named = [](const std::optional<std::string> &name) { return name ? json(*name) : json(); };
  QM_RETURN_IF_ERROR(CheckName(root, "fileOsName", named(FileOsName(f.FileOs))));
  QM_RETURN_IF_ERROR(CheckName(root, "fileTypeName", named(FileTypeName(f.FileType))));
  QM_RETURN_IF_ERROR(CheckName(root, "fileSubTypeName", named(FileSubTypeName(f.FileSubType))));
  return CheckName(root, "fileFlagNames", json(FlagNames(f.Flags)));
}

const char *const kFixedMembers[] = {"fileVersion",   "productVersion", "fileFlagsMask",   "fileFlags",
                                     "fileFlagNames", "fileOs",         "fileOsName",      "fileType",
                                     "fileTypeName",  "fileSubType",    "fileSubTypeName", "fileDate"};

Status ApplyMember(const std::string &member, const json &value, InfoFromJson &out) {
  FixedFileInfo &f = out.Info.Fixed;
  auto take32 = [&](std::uint32_t &target) -> Status {
    QM_UNWRAP_OR_RETURN(number, Number(value, member, 0xFFFFFFFFu));
    target = static_cast<std::uint32_t>(number);
    return Ok();
  };
  auto takeCode = [&](std::uint32_t &target, Result<std::uint32_t> (*fromText)(std::string_view)) -> Status {
    QM_UNWRAP_OR_RETURN(code, Code(value, member, fromText));
    target = code;
    return Ok();
  };
  if (member == "kind") return value.is_string() ? Ok() : Invalid("kind: expected a text, not " + Show(value));
  if (member == "language") {
    QM_UNWRAP_OR_RETURN(language, Number(value, member, 0xFFFF));
    out.Language = static_cast<std::uint16_t>(language);
    return Ok();
  }
  if (member == "otherLanguages") {
    if (!value.is_array()) return Invalid("otherLanguages: expected an array of numbers");
    for (const json &language : value) {
      QM_RETURN_IF_ERROR(Number(language, member, 0xFFFF));
    }
    return Ok();
  }
  // What show says of the module file, not of its version information:
  // read back, never written.
  if (member == "signed")
    return value.is_boolean() ? Ok() : Invalid("signed: expected true or false, not " + Show(value));
  if (member == "appendedData") {
    return value.is_array() ? Ok() : Invalid("appendedData: expected an array, not " + Show(value));
  }
  if (member == "selfCheckingPacker") {
    return value.is_string() || value.is_null()
               ? Ok()
               : Invalid("selfCheckingPacker: expected a packer's name or null, not " + Show(value));
  }
  if (member == "hasFixedPart") {
    if (!value.is_boolean()) return Invalid("hasFixedPart: expected true or false, not " + Show(value));
    out.Info.HasFixedPart = value.get<bool>();
    return Ok();
  }
  if (member == "fileVersion") return Version(value, member, f.FileMajor, f.FileMinor, f.FileRelease, f.FileBuild);
  if (member == "productVersion") return Version(value, member, f.ProdMajor, f.ProdMinor, f.ProdRelease, f.ProdBuild);
  if (member == "fileFlagsMask") return take32(f.FlagsMask);
  if (member == "fileFlags") return take32(f.Flags);
  if (member == "fileOs") return takeCode(f.FileOs, FileOsFromText);
  if (member == "fileType") return takeCode(f.FileType, FileTypeFromText);
  if (member == "fileSubType") return takeCode(f.FileSubType, FileSubTypeFromText);
  if (member == "fileDate") {
    QM_UNWRAP_OR_RETURN(date, Number(value, member, ~std::uint64_t{0}));
    f.FileDate = date;
    return Ok();
  }
  if (member == "fileFlagNames" || member == "fileOsName" || member == "fileTypeName" || member == "fileSubTypeName") {
    return Ok(); // checked against the numbers once all are read
  }
  if (member == "stringTables") {
    if (!value.is_array()) return Invalid("stringTables: expected an array of tables");
    for (std::size_t i = 0; i < value.size(); ++i) {
      QM_UNWRAP_OR_RETURN(table, TableFromJson(value[i], "stringTables[" + std::to_string(i) + "]"));
      out.Info.Tables.push_back(std::move(table));
    }
    return Ok();
  }
  if (member == "translations") {
    QM_UNWRAP_OR_RETURN(translations, TranslationsFromJson(value));
    out.Info.Translations = std::move(translations);
    return Ok();
  }
  return Invalid("unknown member " + ShowName(member) +
                 "; the members are those show --json prints: kind, language, otherLanguages, signed, appendedData, "
                 "selfCheckingPacker, hasFixedPart, fileVersion, productVersion, fileFlagsMask, fileFlags, "
                 "fileFlagNames, fileOs, fileOsName, fileType, fileTypeName, fileSubType, fileSubTypeName, "
                 "fileDate, stringTables and translations");
}

} // namespace

Result<InfoFromJson> VersionInfoFromJson(std::string_view jsonText) {
  QM_UNWRAP_OR_RETURN(root, ParseJsonText(jsonText));
  if (!root.is_object()) return Invalid("expected one JSON object as show --json prints it, not " + Show(root));
  InfoFromJson out;
  out.Info.HasFixedPart = true;
  out.Info.Fixed.StrucVersion = layout::kStrucVersion;
  for (const auto &[member, value] : root.items()) {
    QM_RETURN_IF_ERROR(ApplyMember(member, value, out));
  }
  if (!out.Info.HasFixedPart) {
    for (const char *member : kFixedMembers) {
      if (root.contains(member))
        return Invalid(std::string(member) + ": there is no fixed part (hasFixedPart is false)");
    }
    out.Info.Fixed = FixedFileInfo{};
    return out;
  }
  QM_RETURN_IF_ERROR(CheckNames(root, out.Info.Fixed));
  return out;
}

} // namespace qm::cli
