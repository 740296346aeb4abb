#pragma once
// quillmark-cli's command line: parses the arguments, runs one subcommand
// and gives the process exit code. Results go to `out`, messages to `err`.
#include <ostream>
#include <string>
#include <vector>

namespace qm::cli {

// `args` are the arguments after the program name.
int RunCli(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

} // namespace qm::cli
