#include "cli/lint_findings.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <sstream>

#include "base/shown_text.h"
#include "cli/block_input.h"
#include "cli/json_file_name.h"
#include "codec/text_codec.h"
#include "codec/version_info_reader.h"
#include "pe/file_kind.h"
#include "pe/version_reader.h"

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

Result<LintInput> FromWholeBytes(std::span<const std::uint8_t> bytes, const std::string &file) {
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
  return LintInput{std::vector<std::uint8_t>(bytes.begin(), bytes.end()), {}};
}

Result<std::vector<LintFinding>> Lint(Result<LintInput> input, const std::string &file) {
  if (!input) return input.failure();
  auto info = ReadVersionInfo(input->block);
  if (!info) {
    Error error = Context("the version information in " + Quoted(file) + " is damaged: ", info.failure());
    error.kind = ErrorKind::Refused;
    return InRole(FileRole::Input, std::move(error));
  }
  return LintVersionInfo(*info, input->facts);
}

} // namespace

Result<std::vector<LintFinding>> LintModuleImage(const pe::ByteSource &image, const std::string &file) {
  return Lint(FromModule(image, file), file);
}

Result<std::vector<LintFinding>> LintWholeBytes(std::span<const std::uint8_t> bytes, const std::string &file) {
  return Lint(FromWholeBytes(bytes, file), file);
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

Status PrintFindings(const std::string &file, const std::vector<LintFinding> &findings, bool asJson, bool named,
                     std::ostream &out) {
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

} // namespace qm::cli
