#pragma once
// What `lint` finds in a version resource the platform's readers would show
// other than its author meant (codec/version_lint.h), from bytes in hand,
// and how it prints the findings. Opens no file, so the WebAssembly build
// shares it.
#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "base/result.h"
#include "codec/version_lint.h"
#include "pe/byte_source.h"

namespace qm::cli {

// The findings in a module image, including those about the module itself.
Result<std::vector<LintFinding>> LintModuleImage(const pe::ByteSource &image, const std::string &file);

// The findings in a whole file (a module, block file or compiled .res, told
// apart by content as show tells them), or why it could not be read.
Result<std::vector<LintFinding>> LintWholeBytes(std::span<const std::uint8_t> bytes, const std::string &file);

// "id: message", one line each.
std::string FindingsAsText(const std::vector<LintFinding> &findings);
// {"id", "message", "table"?, "key"?}: table and key only where the finding
// is about one.
nlohmann::ordered_json FindingAsJson(const LintFinding &finding);

// One file's findings printed, as lines or one JSON array; with `named` (a
// run over several files) each says whose it is. Findings make the file's
// result a difference.
Status PrintFindings(const std::string &file, const std::vector<LintFinding> &findings, bool asJson, bool named,
                     std::ostream &out);

} // namespace qm::cli
