#pragma once
// The part of reading a resource script that touches files: the files it
// includes, found on disk, and the options that say where to look. Kept
// apart so the script reader itself works on bytes alone.
#include <string>
#include <vector>

#include "cli/script_input.h"
#include "codec/rc_preprocessor.h"

namespace CLI {
class App;
}

namespace qm::cli {

// Included files from disk: a quoted name first beside the file that
// includes it, then in each -I folder in the order given.
class FileResolver final : public IncludeResolver {
public:
  explicit FileResolver(const std::vector<std::string> &folders) : folders_(folders) {}
  Result<std::optional<IncludedFile>> Find(std::string_view name, bool quoted, std::string_view folder) override;

private:
  const std::vector<std::string> &folders_;
};

// Where the script at `path` finds what it includes; lives as long as the read.
class ScriptFiles {
public:
  ScriptFiles(const std::string &path, const ScriptFlags &flags);
  ScriptFiles(const ScriptFiles &) = delete;
  ScriptFiles &operator=(const ScriptFiles &) = delete;
  const ScriptPlace &Place() const { return place_; }

private:
  FileResolver resolver_;
  ScriptPlace place_;
};

void AddScriptFlags(CLI::App &command, ScriptFlags &flags);

} // namespace qm::cli
