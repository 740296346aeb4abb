#pragma once
// The subcommands of quillmark-cli that read or write one file each. Each
// takes the paths as the user typed them (UTF-8 text), writes its result to
// `out` and gives back the error to report; each registers itself with
// the program's command line.
#include <ostream>
#include <string>

#include "cli/command_context.h"
#include "cli/script_input.h"
#include "stamp/module_injection.h"

namespace qm::cli {

enum class ShowFormat { Text, Json, Script };

Status ShowCommand(const std::string &file, ShowFormat format, std::ostream &out);
inline Status ShowCommand(const std::string &file, bool asJson, std::ostream &out) {
  return ShowCommand(file, asJson ? ShowFormat::Json : ShowFormat::Text, out);
}
// `input` is a JSON fields file, or a resource script holding one
// VERSIONINFO statement (told apart by content: JSON starts with '{').
// `script` says how a script is preprocessed and read.
Status BuildCommand(const std::string &input, const std::string &blockFile, const ScriptFlags &script = {});
Status InjectCommand(const std::string &module, const std::string &blockFile, bool raw,
                     const stamp::StampOptions &options = {});
Status ExtractCommand(const std::string &module, const std::string &blockFile);
Status StampCommand(const std::string &module, const std::string &fieldsFile, const stamp::StampOptions &options = {});

void AddShowCommand(CLI::App &app, CommandContext &context);
void AddBuildCommand(CLI::App &app, CommandContext &context);
void AddInjectCommand(CLI::App &app, CommandContext &context);
void AddExtractCommand(CLI::App &app, CommandContext &context);
void AddStampCommand(CLI::App &app, CommandContext &context);

} // namespace qm::cli
