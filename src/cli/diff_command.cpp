#include "cli/diff_command.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <memory>

#include "base/shown_text.h"
#include "cli/version_source.h"
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

Status DiffCommand(const std::string &a, const std::string &b, bool asJson, std::ostream &out) {
  QM_UNWRAP_OR_RETURN(first, ReadVersionSource(a, std::nullopt));
  QM_UNWRAP_OR_RETURN(second, ReadVersionSource(b, std::nullopt));
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

void AddDiffCommand(CLI::App &app, CommandContext &context) {
  struct Arguments {
    std::string a, b;
    bool json = false;
  };
  auto a = std::make_shared<Arguments>();
  CLI::App *diff = AddCommand(app, "diff", "List what differs between the version information of two files");
  diff->add_option("A", a->a, "module, block file or compiled resource file")->required();
  diff->add_option("B", a->b, "module, block file or compiled resource file")->required();
  diff->add_flag("--json", a->json, "print one JSON object instead of lines");
  diff->callback([a, &context] { context.Report(DiffCommand(a->a, a->b, a->json, context.out)); });
}

} // namespace qm::cli
