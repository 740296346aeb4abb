#include "cli/diff_report.h"

#include <nlohmann/json.hpp>

#include "base/shown_text.h"
#include "codec/version_diff.h"

namespace qm::cli {
namespace {

using Json = nlohmann::ordered_json;

// Where the difference is, as the text line starts.
std::string Where(const VersionDifference &d) {
  if (d.Section == "fixed") return d.Key;
  if (d.Section == "table") return "table " + Quoted(d.Table);
  if (d.Section == "string") return "string " + Quoted(d.Key) + " in table " + Quoted(d.Table);
  return d.Section;
}

std::string Line(const VersionDifference &d) {
  const std::string where = Where(d);
  const std::string a = d.A ? (d.Section == "string" ? Quoted(*d.A) : Shown(*d.A)) : "";
  const std::string b = d.B ? (d.Section == "string" ? Quoted(*d.B) : Shown(*d.B)) : "";
  switch (d.Change) {
  case DiffChange::Added:
    return where + ": only in B" + (d.B ? " (" + b + ")" : "");
  case DiffChange::Removed:
    return where + ": only in A" + (d.A ? " (" + a + ")" : "");
  case DiffChange::Moved:
    return where + ": moved from position " + a + " to " + b;
  case DiffChange::Changed:
    break;
  }
  return where + ": " + a + " -> " + b;
}

Json Member(const std::optional<std::string> &value, bool asNumber) {
  if (!value) return nullptr;
  return asNumber ? Json(std::stoull(*value)) : Json(*value);
}

std::string AsJson(const std::string &a, const std::string &b, const std::vector<VersionDifference> &differences) {
  Json root;
  root["a"] = a;
  root["b"] = b;
  root["same"] = differences.empty();
  Json list = Json::array();
  for (const VersionDifference &d : differences) {
    Json item;
    item["change"] = DiffChangeName(d.Change);
    item["section"] = d.Section;
    if (d.Section == "table" || d.Section == "string") item["table"] = d.Table;
    if (d.Section == "fixed" || d.Section == "string") item["key"] = d.Key;
    const bool moved = d.Change == DiffChange::Moved;
    item["a"] = Member(d.A, moved);
    item["b"] = Member(d.B, moved);
    list.push_back(std::move(item));
  }
  root["differences"] = std::move(list);
  return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

} // namespace

Status DiffVersions(const std::string &a, const std::string &b, bool asJson, const VersionReader &read,
                    std::ostream &out) {
  QM_UNWRAP_OR_RETURN(first, read(a, std::nullopt));
  QM_UNWRAP_OR_RETURN(second, read(b, std::nullopt));
  std::vector<VersionDifference> differences = DiffVersionInfo(first.Info, second.Info);
  // A block file has no languages to compare.
  if (first.Language && second.Language) {
    if (auto languages = DiffLanguages(first.Languages, second.Languages)) differences.push_back(*languages);
  }
  if (asJson) {
    out << AsJson(a, b, differences);
  } else {
    for (const VersionDifference &d : differences)
      out << Line(d) << "\n";
  }
  out.flush();
  if (differences.empty()) return Ok();
  return Fail(ErrorKind::Different, Quoted(a) + " and " + Quoted(b) + " differ in " +
                                        std::to_string(differences.size()) +
                                        (differences.size() == 1 ? " place" : " places"));
}

} // namespace qm::cli
