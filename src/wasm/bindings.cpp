// The C interface the npm package calls. Each call takes up to two inputs
// (bytes the host copied into this module's memory) and its options as JSON
// text, and runs the companion's own command logic on them; the result stays
// here until the next call: the output bytes and a JSON text (the notices,
// or the error's message, kind and exit code).
//
// No file is ever opened here: the host reads and replaces files.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "base/result.h"
#include "base/shown_text.h"
#include "cli/apply_edit.h"
#include "cli/block_input.h"
#include "cli/check_plan.h"
#include "cli/command_context.h"
#include "cli/diff_report.h"
#include "cli/edit_arguments.h"
#include "cli/get_value.h"
#include "cli/lint_findings.h"
#include "cli/module_versions.h"
#include "cli/set_plan.h"
#include "cli/show_input.h"
#include "cli/version_bytes.h"
#include "pe/byte_source.h"
#include "pe/file_kind.h"
#include "pe/resource_update.h"
#include "stamp/exit_codes.h"
#include "stamp/image_stamp.h"

namespace qm::wasm {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Json = nlohmann::json;

// The operations, numbered as node/lib/core.cjs numbers them.
enum class Operation : int {
  Show = 1,
  Set = 2,
  Build = 3,
  Apply = 4,
  Extract = 5,
  Get = 6,
  Check = 7,
  Diff = 8,
  Lint = 9,
  Inject = 10,
  Stamp = 11
};

struct Call {
  std::span<const std::uint8_t> first, second;
  Json options;
  std::string File() const { return options.value("file", std::string("module")); }
};

// What a call gives: bytes (a module, a block, or the text a command
// prints, kept when the command then fails, as a difference found after
// its output), and the JSON text.
struct Outcome {
  Bytes data;
  Json text = Json::object();
};

Outcome g_last;

const char *KindName(ErrorKind kind) {
  switch (kind) {
  case ErrorKind::Unspecified:
    return "unspecified";
  case ErrorKind::Missing:
    return "missing";
  case ErrorKind::Denied:
    return "denied";
  case ErrorKind::NotRegular:
    return "notRegular";
  case ErrorKind::Unreadable:
    return "unreadable";
  case ErrorKind::TooLarge:
    return "tooLarge";
  case ErrorKind::NotAModule:
    return "notAModule";
  case ErrorKind::Damaged:
    return "damaged";
  case ErrorKind::NoRoom:
    return "noRoom";
  case ErrorKind::CannotWrite:
    return "cannotWrite";
  case ErrorKind::Locked:
    return "locked";
  case ErrorKind::OutOfMemory:
    return "outOfMemory";
  case ErrorKind::Invalid:
    return "invalid";
  case ErrorKind::Empty:
    return "empty";
  case ErrorKind::Refused:
    return "refused";
  case ErrorKind::NoVersion:
    return "noVersion";
  case ErrorKind::Usage:
    return "usage";
  case ErrorKind::WouldBreak:
    return "wouldBreak";
  case ErrorKind::Different:
    return "different";
  }
  return "unspecified";
}

std::optional<std::string> Text(const Json &options, const char *name) {
  const auto at = options.find(name);
  if (at == options.end() || !at->is_string()) return std::nullopt;
  return at->get<std::string>();
}

std::vector<std::string> Texts(const Json &options, const char *name) {
  std::vector<std::string> texts;
  const auto at = options.find(name);
  if (at == options.end() || !at->is_array()) return texts;
  for (const Json &item : *at)
    if (item.is_string()) texts.push_back(item.get<std::string>());
  return texts;
}

stamp::StampOptions StampOptionsOf(const Json &options, Json &notices) {
  stamp::StampOptions stamp;
  stamp.force = options.value("force", false);
  stamp.signedModules = options.value("signed", std::string("remove")) == "refuse" ? stamp::SignedPolicy::Refuse
                                                                                   : stamp::SignedPolicy::Remove;
  stamp.notice = [&notices](const std::string &line) { notices.push_back(line); };
  return stamp;
}

// The stamped module's bytes and the notices; a dry run stops once the
// module is composed and checked, as the companion's does, and tells nothing.
Status Finish(const Call &call, const std::shared_ptr<const pe::MemorySource> &source,
              const stamp::StampedImage &stamped, const stamp::StampOptions &options, Json &notices, Outcome &outcome) {
  if (call.options.value("dryRun", false)) return Ok();
  const std::string file = call.File();
  auto bytes = stamped.file.Materialize(*source);
  if (!bytes) return stamp::FileError(FileRole::Target, "module", file, bytes.failure());
  stamp::TellStamped(stamped, file, options);
  outcome.data = std::move(*bytes);
  outcome.text["notices"] = std::move(notices);
  return Ok();
}

// Runs `edit` over the module's version resources as EditModule does for a
// file, and gives the new module's bytes.
Status EditImage(const Call &call, const std::function<Status(cli::ModuleVersions &)> &edit, Outcome &outcome) {
  const std::string file = call.File();
  Json notices = Json::array();
  const stamp::StampOptions options = StampOptionsOf(call.options, notices);
  const auto source = std::make_shared<const pe::MemorySource>(call.first);
  std::optional<stamp::StampedImage> stamped;
  QM_RETURN_IF_ERROR(cli::EditVersionsWith(file, edit, [&](const stamp::ResourceChange &change) -> Status {
    QM_UNWRAP_OR_RETURN(image, stamp::StampImage(source, file, change, options));
    stamped = std::move(image);
    return Ok();
  }));
  return Finish(call, source, *stamped, options, notices, outcome);
}

// A stamp that stores one version block, as inject and stamp do.
Status StoreBlock(const Call &call, std::span<const std::uint8_t> block, Outcome &outcome) {
  Json notices = Json::array();
  const stamp::StampOptions options = StampOptionsOf(call.options, notices);
  const auto source = std::make_shared<const pe::MemorySource>(call.first);
  QM_UNWRAP_OR_RETURN(stamped, stamp::StampImage(source, call.File(), stamp::PutVersionResource(block), options));
  return Finish(call, source, stamped, options, notices, outcome);
}

cli::ShowFormat FormatOf(const Call &call) {
  const std::string format = call.options.value("format", std::string("json"));
  return format == "text" ? cli::ShowFormat::Text : format == "rc" ? cli::ShowFormat::Script : cli::ShowFormat::Json;
}

// show of the version resource under one language of a module (show itself
// reads the one of choice): read as set reads it for an edit.
Status ShowLanguage(const Call &call, const std::string &languageText, Outcome &outcome) {
  const std::string file = call.File();
  auto language = cli::LanguageFromArgument(languageText);
  if (!language) return cli::WithKind(ErrorKind::Usage, language.failure());
  const auto source = std::make_shared<const pe::MemorySource>(call.first);
  if (pe::SniffFileKind(*source) != pe::FileKind::PeModule) {
    return Error{Quoted(file) + " is not a PE module; only a module's version resources are read by language",
                 ErrorKind::NotAModule, FileRole::Module};
  }
  auto update = pe::ResourceUpdate::BeginFrom(source);
  if (!update) return stamp::FileError(FileRole::Module, "module", file, update.failure());
  cli::ModuleVersions versions(*update, file);
  const std::vector<std::uint16_t> held = versions.Languages();
  if (std::find(held.begin(), held.end(), *language) == held.end()) {
    return Error{"the module " + Quoted(file) + " has no version resource under language " +
                     cli::LanguageText(*language),
                 ErrorKind::NoVersion, FileRole::Module};
  }
  auto info = versions.Read(*language);
  if (!info) return InRole(FileRole::Module, info.failure());
  cli::ShownOrigin origin;
  origin.kind = "module";
  cli::DescribeModuleFile(*source, origin);
  origin.language = *language;
  for (std::uint16_t other : held)
    if (other != *language) origin.otherLanguages.push_back(other);
  std::string text;
  switch (FormatOf(call)) {
  case cli::ShowFormat::Text:
    text = cli::ShowAsText(*info, origin);
    break;
  case cli::ShowFormat::Json:
    text = cli::ShowAsJson(*info, origin);
    break;
  case cli::ShowFormat::Script: {
    QM_UNWRAP_OR_RETURN(script, cli::ShowAsScript(*info, origin));
    text = std::move(script);
    break;
  }
  }
  outcome.data.assign(text.begin(), text.end());
  return Ok();
}

Status Show(const Call &call, Outcome &outcome) {
  if (auto language = Text(call.options, "language")) return ShowLanguage(call, *language, outcome);
  const std::string file = call.File();
  cli::ShownOrigin origin;
  QM_UNWRAP_OR_RETURN(payload, cli::PayloadFromBytes(Bytes(call.first.begin(), call.first.end()), file, origin));
  QM_UNWRAP_OR_RETURN(text, cli::ShowPayload(payload, origin, FormatOf(call), file));
  outcome.data.assign(text.begin(), text.end());
  return Ok();
}

Status Set(const Call &call, Outcome &outcome) {
  const Json &o = call.options;
  cli::SetEditArguments a;
  a.fileVersion = Text(o, "fileVersion");
  a.productVersion = Text(o, "productVersion");
  a.fileVersionString = Text(o, "fileVersionString");
  a.productVersionString = Text(o, "productVersionString");
  a.table = Text(o, "table");
  a.fileOs = Text(o, "fileOs");
  a.fileType = Text(o, "fileType");
  a.fileSubType = Text(o, "fileSubType");
  a.language = Text(o, "language");
  a.strings = Texts(o, "strings");
  a.removed = Texts(o, "removeStrings");
  a.flags = Texts(o, "flags");
  a.noFlags = Texts(o, "noFlags");
  auto plan = cli::PlanFromArguments(a);
  if (!plan) return cli::WithKind(ErrorKind::Usage, plan.failure());
  const std::string file = call.File();
  std::vector<cli::StoredVersion> stored;
  std::vector<std::uint16_t> held;
  QM_RETURN_IF_ERROR(EditImage(
      call,
      [&](cli::ModuleVersions &versions) -> Status {
        held = versions.Languages();
        QM_UNWRAP_OR_RETURN(edited, cli::EditVersions(file, *plan, versions, held));
        stored = std::move(edited);
        return Ok();
      },
      outcome));
  if (call.options.value("dryRun", false)) {
    const std::string text = cli::DryRunText(file, stored, held);
    outcome.data.assign(text.begin(), text.end());
  }
  return Ok();
}

// A script's options as the companion takes them on its command line. No
// include folder: the core has no files, so a script finds only the headers
// carried with it.
cli::ScriptFlags ScriptFlagsFrom(const Json &options) {
  cli::ScriptFlags flags;
  flags.onlyVersion = options.value("onlyVersion", false);
  flags.defines = options.value("defines", std::vector<std::string>{});
  flags.undefines = options.value("undefines", std::vector<std::string>{});
  flags.codePage = options.value("codePage", 1252u);
  return flags;
}

Status Build(const Call &call, Outcome &outcome) {
  QM_UNWRAP_OR_RETURN(block, cli::BlockFromText(call.first, call.File(), ScriptFlagsFrom(call.options)));
  outcome.data = std::move(block);
  return Ok();
}

Status Apply(const Call &call, Outcome &outcome) {
  std::optional<std::uint16_t> language;
  if (auto text = Text(call.options, "language")) {
    auto parsed = cli::LanguageFromArgument(*text);
    if (!parsed) return cli::WithKind(ErrorKind::Usage, parsed.failure());
    language = *parsed;
  }
  QM_UNWRAP_OR_RETURN(parsed, cli::InformationFromText(call.second, call.options.value("infoFile", std::string("-")),
                                                       ScriptFlagsFrom(call.options)));
  return EditImage(
      call, [&](cli::ModuleVersions &versions) { return cli::ApplyInformation(parsed, language, versions); }, outcome);
}

Status Extract(const Call &call, Outcome &outcome) {
  const std::string file = call.File();
  if (pe::SniffFileKind(call.first) != pe::FileKind::PeModule) {
    return Error{Quoted(file) + " is not a PE module", ErrorKind::NotAModule, FileRole::Module};
  }
  QM_UNWRAP_OR_RETURN(payload, cli::VersionFromModule(pe::MemorySource(call.first), file));
  outcome.data = std::move(payload.bytes);
  return Ok();
}

// The inputs, in the order a command reads its files, as the files the
// companion would have read: the first input for the first file asked for,
// the second for the next.
cli::VersionReader ReaderOf(const Call &call) {
  auto asked = std::make_shared<int>(0);
  return [&call, asked](const std::string &file, std::optional<std::uint16_t> language) {
    return cli::VersionFromWholeBytes((*asked)++ == 0 ? call.first : call.second, file, language);
  };
}

std::optional<std::string> LanguageOption(const Call &call) { return Text(call.options, "language"); }

Status Get(const Call &call, Outcome &outcome) {
  cli::GetArguments a;
  a.file = call.File();
  a.key = Text(call.options, "key");
  a.fixed = Text(call.options, "fixed");
  a.table = Text(call.options, "table");
  a.language = LanguageOption(call);
  std::ostringstream out;
  Status status = cli::GetValue(a, ReaderOf(call), out);
  const std::string text = out.str();
  outcome.data.assign(text.begin(), text.end());
  return status;
}

// The plan alone (`planOnly`), checked once before any file; else the
// differences of one file as a list, each with its message and exit code,
// or the one failure that kept it from being read.
Status Check(const Call &call, Outcome &outcome) {
  const Json &o = call.options;
  cli::CheckArguments a;
  a.fileVersion = Text(o, "fileVersion");
  a.productVersion = Text(o, "productVersion");
  a.table = Text(o, "table");
  a.language = Text(o, "language");
  a.strings = Texts(o, "strings");
  a.flags = Texts(o, "flags");
  a.noFlags = Texts(o, "noFlags");
  QM_UNWRAP_OR_RETURN(plan, cli::CheckPlanFromArguments(a));
  if (o.value("planOnly", false)) return Ok();
  const std::vector<Error> found = cli::CheckOne(call.File(), plan, ReaderOf(call));
  if (found.size() == 1 && found.front().kind != ErrorKind::Different) return found.front();
  Json differences = Json::array();
  for (const Error &difference : found)
    differences.push_back(difference.message);
  outcome.text["differences"] = std::move(differences);
  return Ok();
}

Status Diff(const Call &call, Outcome &outcome) {
  std::ostringstream out;
  Status status = cli::DiffVersions(Text(call.options, "a").value_or("a"), Text(call.options, "b").value_or("b"),
                                    call.options.value("json", false), ReaderOf(call), out);
  const std::string text = out.str();
  outcome.data.assign(text.begin(), text.end());
  return status;
}

Status Lint(const Call &call, Outcome &outcome) {
  const std::string file = call.File();
  QM_UNWRAP_OR_RETURN(findings, cli::LintWholeBytes(call.first, file));
  std::ostringstream out;
  Status status =
      cli::PrintFindings(file, findings, call.options.value("json", false), call.options.value("named", false), out);
  const std::string text = out.str();
  outcome.data.assign(text.begin(), text.end());
  return status;
}

// inject: the block file's bytes (second) checked as the companion checks
// them before it looks at the module.
Status Inject(const Call &call, Outcome &outcome) {
  QM_UNWRAP_OR_RETURN(block,
                      cli::BlockToStore(Bytes(call.second.begin(), call.second.end()), call.options.value("raw", false),
                                        call.options.value("blockFile", std::string("-"))));
  return StoreBlock(call, block, outcome);
}

// stamp: a block built from a JSON fields file (second), stored.
Status Stamp(const Call &call, Outcome &outcome) {
  QM_UNWRAP_OR_RETURN(block, cli::BlockFromFields(call.second, call.options.value("fieldsFile", std::string("-"))));
  return StoreBlock(call, block, outcome);
}

// The operations by number, called through this table rather than a switch:
// the engine compiles a function of this module on its first call, and an
// operation called directly from one place would be inlined into the
// dispatcher, so every call would compile every operation.
using OperationFunction = Status (*)(const Call &, Outcome &);
constexpr OperationFunction kOperations[] = {Show, Set, Build, Apply, Extract, Get, Check, Diff, Lint, Inject, Stamp};
static_assert(std::size(kOperations) == static_cast<std::size_t>(Operation::Stamp));

Status Run(Operation operation, const Call &call, Outcome &outcome) {
  const auto number = static_cast<std::size_t>(operation);
  if (number < 1 || number > std::size(kOperations)) return Fail(ErrorKind::Usage, "unknown operation");
  return kOperations[number - 1](call, outcome);
}

// The failure as the result, after whatever the command printed first.
int Report(const Error &error, Bytes printed = {}) {
  const stamp::ExitCode code = stamp::ExitCodeFor(error);
  g_last.data = std::move(printed);
  g_last.text = Json{{"message", error.message}, {"kind", KindName(error.kind)}, {"exitCode", stamp::ToInt(code)}};
  return stamp::ToInt(code);
}

} // namespace
} // namespace qm::wasm

extern "C" {

// 0, or the exit code the companion ends with for the same failure.
int qm_call(int operation, const std::uint8_t *first, std::size_t firstSize, const std::uint8_t *second,
            std::size_t secondSize, const char *options, std::size_t optionsSize) {
  using namespace qm::wasm;
  try {
    Call call{{first, firstSize}, {second, secondSize}, Json::object()};
    call.options = Json::parse(std::string_view(options, optionsSize), nullptr, false);
    if (!call.options.is_object()) return Report(qm::Fail(qm::ErrorKind::Usage, "the options are not a JSON object"));
    Outcome outcome;
    qm::Status status = Run(static_cast<Operation>(operation), call, outcome);
    if (!status) return Report(status.failure(), std::move(outcome.data));
    g_last = std::move(outcome);
    return 0;
  } catch (const std::bad_alloc &) {
    return Report({"out of memory", qm::ErrorKind::OutOfMemory, qm::FileRole::None});
  } catch (const std::exception &error) {
    return Report({std::string("unexpected failure: ") + error.what(), qm::ErrorKind::Unspecified, qm::FileRole::None});
  }
}

const std::uint8_t *qm_result_data() { return qm::wasm::g_last.data.data(); }
std::size_t qm_result_size() { return qm::wasm::g_last.data.size(); }

// The result's JSON text (text first, then its size), kept until the next
// call. Text that is not UTF-8 never reaches here whole, but a message
// quoting such a file name is shown with replacement characters rather than
// lost with the error.
namespace {
std::string g_text;
}
const char *qm_result_text() {
  g_text = qm::wasm::g_last.text.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return g_text.c_str();
}
std::size_t qm_result_text_size() { return g_text.size(); }
}
