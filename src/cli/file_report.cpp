#include "cli/file_report.h"

#include <nlohmann/json.hpp>

#include "base/shown_text.h"
#include "cli/set_command.h"

namespace qm::cli {
namespace {

using nlohmann::ordered_json;

constexpr auto kReplace = ordered_json::error_handler_t::replace;

// The command's own output for one file, as a member of its record.
ordered_json OutputMember(const std::string &text, bool isJson) {
  if (isJson) {
    ordered_json value = ordered_json::parse(text, nullptr, false);
    if (!value.is_discarded()) return value;
  }
  return text;
}

std::string Counted(std::size_t count, const std::string &noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

} // namespace

FileReport::FileReport(ReportFormat format, bool outputIsJson, std::ostream &out, std::ostream &err,
                       std::vector<Error> &failures)
    : format_(format), outputIsJson_(outputIsJson), out_(out), err_(err), failures_(failures) {}

std::ostream &FileReport::Output() {
  if (format_ == ReportFormat::Text) return out_;
  buffer_.str({});
  buffer_.clear();
  return buffer_;
}

void FileReport::Done(const std::string &path, const Status &status) {
  if (status) {
    ++done_;
    Write(path, "ok", stamp::ExitCode::Success, {});
    return;
  }
  ++failed_;
  const Error &failure = status.failure();
  if (format_ == ReportFormat::Text) {
    failures_.push_back(failure);
    return;
  }
  if (failed_ == 1 || MostSerious({failure, worst_}) != MostSerious({worst_})) worst_ = failure;
  Write(path, "failed", stamp::ExitCodeFor(failure), failure.message);
}

void FileReport::Skipped(const std::string &path, const std::string &why) {
  ++skipped_;
  Write(path, "skipped", stamp::ExitCode::Success, why);
}

void FileReport::Write(const std::string &path, const char *result, stamp::ExitCode code, const std::string &message) {
  if (format_ == ReportFormat::Text) return;
  ordered_json record;
  PutFileName(record, "path", path);
  record["result"] = result;
  record["exitCode"] = stamp::ToInt(code);
  record["message"] = message;
  if (!buffer_.str().empty()) record["output"] = OutputMember(buffer_.str(), outputIsJson_);
  buffer_.str({});
  out_ << record.dump(-1, ' ', false, kReplace) << "\n";
  out_.flush();
}

void FileReport::Finish(bool walkedFolders) {
  if (format_ == ReportFormat::Json) {
    if (failed_ == 0) return;
    failures_.push_back(Context(std::to_string(failed_) + " of " + Counted(done_ + failed_, "file") +
                                    " failed (see the report); the most serious: ",
                                worst_));
    return;
  }
  if (walkedFolders && skipped_ > 0) {
    err_ << "quillmark-cli: " << Counted(done_ + failed_, "module") << " handled, " << failed_ << " failed; "
         << Counted(skipped_, "other file") << " skipped\n";
    err_.flush();
  }
}

} // namespace qm::cli
