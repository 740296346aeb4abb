#pragma once
// What `apply` makes of its information file and how it puts it in a
// module: the parts that need no file, shared with the WebAssembly build.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/result.h"
#include "cli/info_json.h"
#include "cli/module_versions.h"
#include "cli/script_input.h"

namespace qm::cli {

// JSON as show --json prints it, or a resource script with one VERSIONINFO
// (told apart by content); messages name `shown`. A script is read with
// `flags`, its includes found through `place`.
Result<InfoFromJson> InformationFromText(std::span<const std::uint8_t> text, const std::string &shown,
                                         const ScriptFlags &flags, const ScriptPlace &place = {});

// Puts the information under `language`, else the file's own, else the one
// show would read, else US English; the stored structure version is kept.
Status ApplyInformation(const InfoFromJson &parsed, std::optional<std::uint16_t> language, ModuleVersions &versions);

} // namespace qm::cli
