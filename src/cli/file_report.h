#pragma once
// What a command that handles many files says about each: as text (the
// program's usual failure lines on stderr) or as a report of one JSON object
// per line on stdout, written as each file is done.
//
// A record: {"path": "dir/app.exe", "result": "ok" | "skipped" | "failed",
// "exitCode": 0, "message": "..."} ("pathBytes" too for a name that is not
// UTF-8, see PutFileName), plus "output" when the command printed
// something for that file (a JSON value when the command prints JSON, else
// the text). A skipped file has exit code 0 and says why it was skipped.
#include <cstddef>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/result.h"
#include "cli/json_file_name.h"
#include "stamp/exit_codes.h"

namespace qm::cli {

enum class ReportFormat { Text, Json };

class FileReport {
public:
  // Failures go to `failures`, which decides the run's exit code: in text
  // form one per failed file, as a command over a list of modules reports
  // them; in JSON form, where the records already carry them, only one line
  // at the end, of the most serious failure's kind.
  FileReport(ReportFormat format, bool outputIsJson, std::ostream &out, std::ostream &err,
             std::vector<Error> &failures);

  // Where the command writes what it prints for the file in hand: the
  // results stream itself in text form, a buffer for the record in JSON.
  std::ostream &Output();
  // The file in hand was done (or failed) as `status` says.
  void Done(const std::string &path, const Status &status);
  // A file that is not the command's business, and why.
  void Skipped(const std::string &path, const std::string &why);
  // Ends a run: in text form, a notice of how many files were skipped (when
  // a folder was walked); in JSON form, the failure line that sets the code.
  void Finish(bool walkedFolders);

  std::size_t done() const { return done_; }
  std::size_t failed() const { return failed_; }
  std::size_t skipped() const { return skipped_; }

private:
  void Write(const std::string &path, const char *result, stamp::ExitCode code, const std::string &message);

  ReportFormat format_;
  bool outputIsJson_;
  std::ostream &out_;
  std::ostream &err_;
  std::vector<Error> &failures_;
  std::ostringstream buffer_;
  std::size_t done_ = 0, failed_ = 0, skipped_ = 0;
  // In JSON form, the one failure that stands for all of them.
  Error worst_;
};

} // namespace qm::cli
