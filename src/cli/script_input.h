#pragma once
// Resource scripts as apply and build take them: one VERSIONINFO statement,
// read into the same information a JSON file gives, so that everything after
// the reading (the stamp, the block file) is one path for both.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "cli/info_json.h"

namespace CLI {
class App;
}

namespace qm::cli {

// What a resource compiler is told on its command line, in the spellings
// build tools already pass to one.
struct ScriptFlags {
  std::vector<std::string> includeDirs; // -I, searched in order after the including file's folder
  std::vector<std::string> defines;     // -D NAME or NAME=VALUE
  std::vector<std::string> undefines;   // -U NAME, also of the names defined by default
  unsigned codePage = 1252;             // of plain "..." literals until a #pragma code_page
  bool onlyVersion = false;             // a script's other resource statements are skipped, not refused
};

void AddScriptFlags(CLI::App &command, ScriptFlags &flags);

// A JSON file starts with '{' after blanks (and a UTF-8 byte order mark);
// a resource script never does. Anything else is taken for a script.
bool LooksLikeJson(std::span<const std::uint8_t> text);

// The script's VERSIONINFO and, when it has one, its LANGUAGE. Every refusal
// is Invalid and says the file, line and column. A UTF-8 byte order mark is
// skipped; UTF-16 is refused. `path` is the script's file (its folder is
// searched first for quoted includes); `shown` names it in messages.
Result<InfoFromJson> VersionInfoFromScript(std::span<const std::uint8_t> text, const std::string &path,
                                           const ScriptFlags &flags);

} // namespace qm::cli
