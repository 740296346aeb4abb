#pragma once
// What every command of quillmark-cli is given when it registers itself: the
// streams for its results and notices, and the list its failures go to.
#include <ostream>
#include <string>
#include <vector>

#include "base/result.h"

namespace CLI {
class App;
}

namespace qm::cli {

struct CommandContext {
  std::ostream &out; // results
  std::ostream &err; // notices of successful stamps
  // What the command that ran reported, in order (set reports one per module).
  std::vector<Error> failures;

  void Report(const Status &status) {
    if (!status) failures.push_back(status.failure());
  }
};

// A subcommand of `app` that takes no options of its parent after its name.
CLI::App *AddCommand(CLI::App &app, const std::string &name, const std::string &description);

// `error` as one of `kind`, for a value a command refuses whatever its
// reader made of it (a fields file refused is invalid, an argument refused
// is a wrong command line).
inline Error WithKind(ErrorKind kind, Error error) {
  error.kind = kind;
  return error;
}

} // namespace qm::cli
