#include "cli/fields_json.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "base/shown_text.h"
#include "codec/field_codes.h"
#include "codec/integer_text.h"
#include "codec/text_codec.h"
#include "codec/version_edit.h"
#include "codec/version_text.h"

namespace qm::cli {
namespace {

using nlohmann::json;

std::string Show(const json &value) { return JsonExcerpt(value); }
std::string ShowText(std::string_view text) { return TextExcerpt(text); }
// Whatever a fields file holds that cannot be taken makes it invalid.
Error Invalid(std::string message) { return Fail(ErrorKind::Invalid, std::move(message)); }

// The editor's conversion keeps the low 16 bits of whatever it reads; a
// fields file is written by a script, where 70000 is a mistake to report,
// not a number to wrap. A text that does not convert at all is left to the
// encoder, so its message is the editor's own; it goes on as a message shows
// it (escaped, cut short), which cannot make it convert, so the message
// quotes it safely.
Status CheckSixteenBits(std::string &text, std::string_view name, bool hexadecimal) {
  auto number = IntegerFromText(hexadecimal ? "$" + text : text);
  if (!number) text = Shown(text, kShortQuotedLimit);
  if (number && (*number < 0 || *number > 0xFFFF)) {
    return Fail(ErrorKind::Invalid, std::string(name) + ": \"" + ShowText(text) + "\" is outside " +
                                        (hexadecimal ? "0000 to FFFF" : "0 to 65535") + " (16 bits)");
  }
  return Ok();
}

// A code is a number, or the text of a list item, which stands for the
// number the editor would store for that item.
Result<std::uint32_t> CodeFromJson(const json &value, std::string_view name, std::span<const CodeItem> table) {
  if (value.is_number_unsigned()) {
    const auto number = value.get<std::uint64_t>();
    if (number > 0xFFFFFFFFu) return Invalid(std::string(name) + ": " + Show(value) + " does not fit in 32 bits");
    return static_cast<std::uint32_t>(number);
  }
  if (value.is_string()) {
    const std::string text = value.get<std::string>();
    if (const auto code = CodeFromItemText(table, text)) return *code;
    return Invalid(std::string(name) + ": \"" + ShowText(text) + "\" is not an item of the list; the items are " +
                   ItemList(table));
  }
  return Invalid(std::string(name) + ": expected a number from 0 to 4294967295 or the text of a list item, not " +
                 Show(value));
}

Result<std::string> TextFromJson(const json &value, std::string_view name, std::string_view example) {
  if (!value.is_string()) {
    return Invalid(std::string(name) + ": expected a text such as \"" + std::string(example) + "\", not " +
                   Show(value));
  }
  return value.get<std::string>();
}

Result<bool> FlagFromJson(const json &value, std::string_view name) {
  if (!value.is_boolean()) return Invalid(std::string(name) + ": expected true or false, not " + Show(value));
  return value.get<bool>();
}

Result<std::vector<StringRow>> RowsFromJson(const json &value) {
  if (!value.is_array()) return Invalid("strings: expected an array of [key, value] pairs, not " + Show(value));
  std::vector<StringRow> rows;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const json &pair = value[i];
    if (!pair.is_array() || pair.size() != 2 || !pair[0].is_string() || !pair[1].is_string()) {
      return Invalid("strings[" + std::to_string(i) + "]: expected a pair of texts [key, value], not " + Show(pair));
    }
    StringRow row{pair[0].get<std::string>(), pair[1].get<std::string>()};
    // A NUL would end the text early inside the block.
    if (row.Key.find('\0') != std::string::npos || row.Value.find('\0') != std::string::npos) {
      return Invalid("strings[" + std::to_string(i) + "]: a text may not contain \\u0000");
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

// The fields as read so far, and the versions written in another form than
// A.B.C.D, whose text the strings take once all fields are read.
struct Reading {
  VersionFields fields;
  std::optional<std::string> fileText, productText;
};

Status ApplyVersion(const json &value, std::string_view name, std::uint16_t &major, std::uint16_t &minor,
                    std::uint16_t &release, std::uint16_t &build, std::optional<std::string> &text) {
  if (!value.is_string()) {
    return Invalid(std::string(name) + ": expected a text such as \"1.2.3.4\" or \"v2.4.0-rc.1\", not " + Show(value));
  }
  const std::string written = value.get<std::string>();
  // The text may become a string, where a NUL would end it early.
  if (written.find('\0') != std::string::npos) return Invalid(std::string(name) + ": a text may not contain \\u0000");
  auto version = VersionFromWrittenText(written);
  if (!version) return Context(std::string(name) + ": ", version.failure());
  major = version->Parts[0];
  minor = version->Parts[1];
  release = version->Parts[2];
  build = version->Parts[3];
  // A plain version is all in the numbers and, as in the editor, leaves the
  // strings as listed; any other form keeps what the numbers cannot hold.
  if (version->Plain) {
    text.reset();
  } else {
    text = written;
  }
  return Ok();
}

// A version written in another form goes to its string too, unless the
// file lists that string itself, as it does for a plain version.
void AddVersionString(std::vector<StringRow> &rows, std::u16string_view key, const std::optional<std::string> &text) {
  if (!text) return;
  for (const StringRow &row : rows)
    if (SameKey(Utf8ToUtf16(row.Key), key)) return;
  rows.push_back({Utf16ToUtf8(key), *text});
}

Status ApplyField(const std::string &key, const json &value, Reading &reading) {
  VersionFields &fields = reading.fields;
  auto take = [](auto result, auto &target) -> Status {
    if (!result) return result.failure();
    target = std::move(*result);
    return Ok();
  };
  if (key == "fileVersion")
    return ApplyVersion(value, key, fields.FileMajor, fields.FileMinor, fields.FileRelease, fields.FileBuild,
                        reading.fileText);
  if (key == "productVersion")
    return ApplyVersion(value, key, fields.ProdMajor, fields.ProdMinor, fields.ProdRelease, fields.ProdBuild,
                        reading.productText);
  if (key == "debug") return take(FlagFromJson(value, key), fields.Debug);
  if (key == "preRelease") return take(FlagFromJson(value, key), fields.PreRelease);
  if (key == "special") return take(FlagFromJson(value, key), fields.Special);
  if (key == "private") return take(FlagFromJson(value, key), fields.Private);
  if (key == "fileOs") {
    return take(CodeFromJson(value, key, kFileOsTable), fields.FileOs);
  }
  if (key == "fileType") return take(CodeFromJson(value, key, kFileTypeTable), fields.FileType);
  if (key == "fileSubType") return take(CodeFromJson(value, key, kSubTypeTable), fields.FileSubType);
  if (key == "language") return take(TextFromJson(value, key, "0809"), fields.LanguageText);
  if (key == "codePage") return take(TextFromJson(value, key, "1252"), fields.CodePageText);
  if (key == "strings") return take(RowsFromJson(value), fields.Rows);
  return Invalid(
      "unknown field \"" + ShowText(key) +
      "\"; the fields are fileVersion, productVersion, debug, preRelease, special, private, fileOs, fileType, "
      "fileSubType, language, codePage and strings");
}

} // namespace

std::string JsonExcerpt(const nlohmann::json &value) {
  return TextExcerpt(value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

std::string TextExcerpt(std::string_view text) {
  constexpr std::size_t kExcerptLimit = 80;
  return Shown(text, kExcerptLimit);
}

Status CheckJsonNesting(std::string_view jsonText, int limit) {
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < jsonText.size(); ++i) {
    const char c = jsonText[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) {
        return Fail(ErrorKind::Invalid, "arrays and objects nested deeper than " + std::to_string(limit) +
                                            " levels (at byte " + std::to_string(i) + ")");
      }
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return Ok();
}

Result<json> ParseJsonText(std::string_view jsonText) {
  // The parser and the value it builds recurse once per level; a document
  // of deep brackets would exhaust the stack before any message.
  if (Status nesting = CheckJsonNesting(jsonText); !nesting) return nesting.failure();
  // The members named so far in each object still open.
  std::vector<std::set<std::string>> open;
  std::optional<std::string> twice;
  const json::parser_callback_t watch = [&](int, json::parse_event_t event, json &parsed) {
    if (event == json::parse_event_t::object_start) {
      open.emplace_back();
    } else if (event == json::parse_event_t::object_end) {
      if (!open.empty()) open.pop_back();
    } else if (event == json::parse_event_t::key && !open.empty() && parsed.is_string()) {
      if (!open.back().insert(parsed.get<std::string>()).second && !twice) twice = parsed.get<std::string>();
    }
    return true;
  };
  json root;
  try {
    root = json::parse(jsonText, watch);
  } catch (const json::parse_error &error) {
    return Fail(ErrorKind::Invalid, "not valid JSON: " + Shown(error.what(), 200));
  }
  if (twice) {
    return Fail(ErrorKind::Invalid, "the member \"" + ShowText(*twice) +
                                        "\" is named twice in one object; which value is meant cannot be told");
  }
  return root;
}

Result<VersionFields> FieldsFromJson(std::string_view jsonText) {
  QM_UNWRAP_OR_RETURN(root, ParseJsonText(jsonText));
  if (!root.is_object()) return Invalid("expected a JSON object of fields, not " + Show(root));
  for (const char *required : {"language", "codePage"}) {
    if (!root.contains(required)) {
      return Invalid(std::string("missing field \"") + required + "\" (a text such as " +
                     (std::string(required) == "language" ? "\"0809\"" : "\"1252\"") + ")");
    }
  }
  Reading reading;
  for (const auto &[key, value] : root.items()) {
    QM_RETURN_IF_ERROR(ApplyField(key, value, reading));
  }
  VersionFields &fields = reading.fields;
  AddVersionString(fields.Rows, u"FileVersion", reading.fileText);
  AddVersionString(fields.Rows, u"ProductVersion", reading.productText);
  if (Status language = CheckSixteenBits(fields.LanguageText, "language", true); !language) return language.failure();
  if (Status codePage = CheckSixteenBits(fields.CodePageText, "codePage", false); !codePage) return codePage.failure();
  return fields;
}

} // namespace qm::cli
