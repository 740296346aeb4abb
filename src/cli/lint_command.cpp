#include "cli/lint_command.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <memory>
#include <sstream>

#include "base/shown_text.h"
#include "cli/argument_path.h"
#include "cli/block_input.h"
#include "cli/file_report.h"
#include "cli/module_walk.h"
#include "codec/text_codec.h"
#include "codec/version_info_reader.h"
#include "pe/byte_source.h"
#include "pe/file_kind.h"
#include "pe/version_reader.h"
#include "stamp/module_file.h"
#include "stamp/module_injection.h"

namespace qm::cli {
namespace {

constexpr std::uint16_t kImageFileDll = 0x2000;

struct LintInput {
  std::vector<std::uint8_t> block;
  ModuleFacts facts;
};

std::vector<std::uint16_t> AllLanguages(std::optional<std::uint16_t> read, std::vector<std::uint16_t> others) {
  if (read) others.push_back(*read);
  std::sort(others.begin(), others.end());
  return others;
}

// The version resource show reads from a module, with what lint needs to
// know of the module: its languages and whether it is a library.
Result<LintInput> FromModule(const pe::ByteSource &image, const std::string &shown) {
  QM_UNWRAP_OR_RETURN(payload, VersionFromModule(image, shown));
  LintInput input;
  input.block = std::move(payload.bytes);
  input.facts.Languages = AllLanguages(payload.language, std::move(payload.otherLanguages));
  // The headers were read to find the resource: the fields are there.
  const auto peOffset = image.U32(0x3C);
  const auto characteristics = peOffset ? image.U16(std::uint64_t{*peOffset} + 22) : std::nullopt;
  input.facts.IsLibrary = characteristics && (*characteristics & kImageFileDll) != 0;
  return input;
}

// Anything but a module in a regular file: read whole, told apart by content.
Result<LintInput> FromWholeFile(const std::string &file) {
  QM_UNWRAP_OR_RETURN(bytes, stamp::ReadWholeInput(ArgumentPath(file), file, "file", FileRole::Input));
  switch (pe::SniffFileKind(bytes)) {
  case pe::FileKind::PeModule:
    return FromModule(pe::MemorySource(bytes), file);
  case pe::FileKind::CompiledResources: {
    QM_UNWRAP_OR_RETURN(payload, VersionFromResFile(bytes, file));
    return LintInput{std::move(payload.bytes), {AllLanguages(payload.language, payload.otherLanguages), {}}};
  }
  case pe::FileKind::Other:
    break;
  }
  if (!LooksLikeVersionBlock(bytes)) {
    return Error{Quoted(file) + " is neither a module, a compiled resource file nor a version block",
                 ErrorKind::Refused, FileRole::Input};
  }
  return LintInput{std::move(bytes), {}};
}

// A module in a regular file is read where it lies, as show reads it.
Result<LintInput> ReadLintInput(const std::string &file) {
  if (file != "-") {
    auto source = stamp::ModuleFile::Open(ArgumentPath(file));
    if (source && pe::SniffFileKind(**source) == pe::FileKind::PeModule) return FromModule(**source, file);
  }
  return FromWholeFile(file);
}

// One file's findings printed; findings make the file's result a difference.
// With many files each text line starts with the file's name.
Status LintAndPrint(const std::string &file, bool asJson, bool named, std::ostream &out) {
  QM_UNWRAP_OR_RETURN(findings, LintOne(file));
  if (asJson) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const LintFinding &finding : findings) {
      nlohmann::ordered_json object;
      // Over several files, each finding says whose it is.
      if (named) PutFileName(object, "file", file);
      object.update(FindingAsJson(finding));
      array.push_back(std::move(object));
    }
    out << array.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
  } else {
    std::istringstream lines(FindingsAsText(findings));
    for (std::string line; std::getline(lines, line);)
      out << (named ? Quoted(file) + ": " : "") << line << "\n";
  }
  out.flush();
  if (findings.empty()) return Ok();
  return Error{std::to_string(findings.size()) + " finding" + (findings.size() == 1 ? "" : "s") + " in " + Quoted(file),
               ErrorKind::Different};
}

} // namespace

Result<std::vector<LintFinding>> LintOne(const std::string &file) {
  QM_UNWRAP_OR_RETURN(input, ReadLintInput(file));
  auto info = ReadVersionInfo(input.block);
  if (!info) {
    Error error = Context("the version information in " + Quoted(file) + " is damaged: ", info.failure());
    return InRole(FileRole::Input, WithKind(ErrorKind::Refused, std::move(error)));
  }
  return LintVersionInfo(*info, input.facts);
}

std::string FindingsAsText(const std::vector<LintFinding> &findings) {
  std::string text;
  for (const LintFinding &finding : findings)
    text.append(LintIdName(finding.Id)).append(": ").append(finding.Message).append("\n");
  return text;
}

nlohmann::ordered_json FindingAsJson(const LintFinding &finding) {
  nlohmann::ordered_json object;
  object["id"] = LintIdName(finding.Id);
  object["message"] = finding.Message;
  if (finding.Table) object["table"] = Utf16ToUtf8(*finding.Table);
  if (finding.Key) object["key"] = Utf16ToUtf8(*finding.Key);
  return object;
}

void AddLintCommand(CLI::App &app, CommandContext &context) {
  struct Arguments {
    std::vector<std::string> files;
    bool json = false;
    WalkFlags walk;
  };
  auto a = std::make_shared<Arguments>();
  CLI::App *lint = AddCommand(app, "lint", "Warn where readers of the version resource would show other than meant");
  lint->add_option("FILE", a->files, "modules, block files or compiled resource files (told apart by content)")
      ->required();
  lint->add_flag("--json", a->json, "print one JSON array of findings instead of lines");
  AddWalkFlags(*lint, a->walk);
  lint->callback([a, &context] {
    const bool asJson = a->json || a->walk.report == "json";
    const bool named = a->files.size() > 1 || a->walk.recursive;
    RunOverModules(
        a->files, a->walk, asJson, context.out, context.err, context.failures,
        [asJson, named](const std::string &file, std::ostream &out) { return LintAndPrint(file, asJson, named, out); });
  });
}

} // namespace qm::cli
