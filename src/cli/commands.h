#pragma once
// The subcommands of quillmark-cli. Each takes the paths as the user typed
// them (8-bit text), writes its result to `out` and gives back a failure to
// report, or nothing on success.
#include <optional>
#include <ostream>
#include <string>

#include "stamp/module_injection.h"

namespace qm::cli {

std::optional<Failure> ShowCommand(const std::string &file, bool asJson, std::ostream &out);
std::optional<Failure> BuildCommand(const std::string &fieldsFile, const std::string &blockFile);
std::optional<Failure> InjectCommand(const std::string &module, const std::string &blockFile, bool raw,
                                     const StampOptions &options = {});
std::optional<Failure> ExtractCommand(const std::string &module, const std::string &blockFile);
std::optional<Failure> StampCommand(const std::string &module, const std::string &fieldsFile,
                                    const StampOptions &options = {});

} // namespace qm::cli
