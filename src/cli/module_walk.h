#pragma once
// Running a command over many modules: the files named, and with
// --recursive every module under the folders named.
//
// A command plugs in with its per-file function and a few lines:
//
//   AddWalkFlags(*command, a->walk);                          // --recursive, --report
//   command->callback([a, &context] {
//     RunOverModules(a->paths, a->walk, /*outputIsJson=*/false, context.out, context.err, context.failures,
//                    [&](const std::string &module, std::ostream &out) { return CheckOne(module, out); });
//   });
//
// The per-file function reads and writes one module on its own and prints
// what it prints for that module to `out`; its Status is the file's result.
//
// What a walk takes and in which order:
// - A file named on the command line is handed over as it is, whatever it
//   holds, so the command refuses what it cannot take in its own words.
// - A folder named is walked only with --recursive (else it is handed over
//   as a file, and refused as before). Under it, every regular file whose
//   content makes it a PE module ("MZ", and "PE\0\0" where e_lfanew points:
//   a few bytes read, whatever its name) is handed over; every other file is
//   skipped and counted. Symbolic links under a folder are not followed,
//   neither to files nor to folders (as find does by default), so a walk
//   never loops and never leaves the tree; a link named on the command line
//   is followed.
// - Each folder's entries are taken in the order of their names (bytes),
//   files and folders alike, so the same tree gives the same report.
// - Memory: one folder's entry names at a time for each level being walked;
//   no list of the files, no file's bytes beyond the one being handled. In
//   text form the failures' lines are kept to be printed at the end, as for
//   a list of modules; the JSON report keeps none.
// - A folder that cannot be read, and a file whose first bytes cannot be
//   read, fail (exit code 5) and the walk goes on; a folder named that holds
//   no module at all fails (exit code 6), since a pipeline pointed at the
//   wrong folder should not pass.
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "base/result.h"

namespace CLI {
class App;
}

namespace qm::cli {

class FileReport;

struct WalkFlags {
  bool recursive = false;
  std::string report = "text"; // text or json
};

// --recursive and --report text|json.
void AddWalkFlags(CLI::App &command, WalkFlags &flags);

using ModuleVisitor = std::function<Status(const std::string &module, std::ostream &out)>;

// Hands `visit` every module `paths` name (see above), in order, and reports
// each file to `report`. Gives whether a folder was walked.
bool ForEachModule(const std::vector<std::string> &paths, bool recursive, const ModuleVisitor &visit,
                   FileReport &report);

// ForEachModule with the report the flags ask for; failures go to `failures`
// (one per failed file in text form, one for all in JSON form).
void RunOverModules(const std::vector<std::string> &paths, const WalkFlags &flags, bool outputIsJson, std::ostream &out,
                    std::ostream &err, std::vector<Error> &failures, const ModuleVisitor &visit);

} // namespace qm::cli
