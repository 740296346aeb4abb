#include "cli/commands.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <sstream>
#include <vector>

#include "base/shown_text.h"
#include "cli/argument_path.h"
#include "cli/block_input.h"
#include "cli/fields_json.h"
#include "cli/file_output.h"
#include "cli/module_walk.h"
#include "cli/script_files.h"
#include "cli/script_input.h"
#include "cli/show_input.h"
#include "cli/show_report.h"
#include "cli/stamp_flags.h"
#include "codec/encoder.h"
#include "codec/text_codec.h"
#include "codec/version_info_reader.h"
#include "codec/version_info_writer.h"
#include "pe/appended_data.h"
#include "pe/byte_source.h"
#include "pe/file_kind.h"
#include "pe/self_checking_packer.h"
#include "pe/version_reader.h"
#include "stamp/module_file.h"

namespace qm::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;

Result<Bytes> BlockFromFieldsFile(const std::string &fieldsFile) {
  QM_UNWRAP_OR_RETURN(text,
                      stamp::ReadWholeInput(ArgumentPath(fieldsFile), fieldsFile, "fields file", FileRole::Input));
  return BlockFromFields(text, fieldsFile);
}

// A regular file that holds a module, opened for reads at offsets: reading
// its version resource then touches the headers, the section table, the
// resource tree and the one resource, so a large module costs what a small
// one does. Anything else (a pipe, standard input, a block file, a compiled
// resource file) gets nothing here and is read whole as before.
std::unique_ptr<stamp::ModuleFile> OpenAsModule(const std::string &file) {
  if (file == "-") return nullptr;
  auto source = stamp::ModuleFile::Open(ArgumentPath(file));
  if (!source || pe::SniffFileKind(**source) != pe::FileKind::PeModule) return nullptr;
  return std::move(*source);
}

// Everything that is not a module in a regular file: read whole and told
// apart by its content.
Result<VersionPayload> PayloadFromWholeInput(const std::string &file, ShownOrigin &origin) {
  QM_UNWRAP_OR_RETURN(bytes, stamp::ReadWholeInput(ArgumentPath(file), file, "file", FileRole::Input));
  return PayloadFromBytes(std::move(bytes), file, origin);
}

// The version resource of a module file, read at offsets where it can be
// and whole where not.
Result<VersionPayload> PayloadFromModule(const std::string &module) {
  if (auto source = OpenAsModule(module)) return VersionFromModule(*source, module);
  QM_UNWRAP_OR_RETURN(image, stamp::ReadWholeInput(ArgumentPath(module), module, "module", FileRole::Module));
  if (pe::SniffFileKind(image) != pe::FileKind::PeModule) {
    return Error{Quoted(module) + " is not a PE module", ErrorKind::NotAModule, FileRole::Module};
  }
  return VersionFromModule(pe::MemorySource(image), module);
}

} // namespace

Status ShowCommand(const std::string &file, ShowFormat format, std::ostream &out) {
  ShownOrigin origin;
  auto module = OpenAsModule(file);
  if (module) origin.kind = "module";
  QM_UNWRAP_OR_RETURN(payload, module ? VersionFromModule(*module, file) : PayloadFromWholeInput(file, origin));
  if (module) DescribeModuleFile(*module, origin);
  QM_UNWRAP_OR_RETURN(text, ShowPayload(payload, origin, format, file));
  out << text;
  out.flush();
  return Ok();
}

Status BuildCommand(const std::string &input, const std::string &blockFile, const ScriptFlags &flags) {
  QM_RETURN_IF_ERROR(RefuseOutputOverInput(blockFile, "block file", input, "fields file"));
  QM_UNWRAP_OR_RETURN(text, stamp::ReadWholeInput(ArgumentPath(input), input, "fields file", FileRole::Input));
  ScriptFiles files(input, flags);
  QM_UNWRAP_OR_RETURN(block, BlockFromText(text, input, flags, files.Place()));
  return WriteOutputFile(ArgumentPath(blockFile), blockFile, "block file", block);
}

Status InjectCommand(const std::string &module, const std::string &blockFile, bool raw,
                     const stamp::StampOptions &options) {
  QM_UNWRAP_OR_RETURN(read, stamp::ReadBlockFile(ArgumentPath(blockFile), blockFile));
  QM_UNWRAP_OR_RETURN(bytes, BlockToStore(std::move(read), raw, blockFile));
  return stamp::StoreVersionResource(ArgumentPath(module), module, bytes, options);
}

Status ExtractCommand(const std::string &module, const std::string &blockFile) {
  QM_RETURN_IF_ERROR(RefuseOutputOverInput(blockFile, "block file", module, "module"));
  QM_UNWRAP_OR_RETURN(payload, PayloadFromModule(module));
  return WriteOutputFile(ArgumentPath(blockFile), blockFile, "block file", payload.bytes);
}

Status StampCommand(const std::string &module, const std::string &fieldsFile, const stamp::StampOptions &options) {
  QM_UNWRAP_OR_RETURN(block, BlockFromFieldsFile(fieldsFile));
  return stamp::StoreVersionResource(ArgumentPath(module), module, block, options);
}

// ---- registration ------------------------------------------------------
//
// Each command keeps its arguments where its callback can reach them; the
// parser runs the callback of the one command given, after every check of
// the command line passed.

namespace {

// show with --recursive: each module's text after a line naming it; as JSON,
// the report's records, each holding the module's object.
void ShowEach(const std::string &file, ShowFormat format, WalkFlags walk, CommandContext &context) {
  if (format == ShowFormat::Json && walk.recursive) walk.report = "json";
  if (format == ShowFormat::Text && walk.report == "json") format = ShowFormat::Json;
  const bool asJson = format == ShowFormat::Json;
  // Over a folder in text form each module's text or script is headed by
  // its path; a script's heading is a comment a resource compiler skips.
  const bool named = walk.recursive && !asJson && walk.report != "json";
  RunOverModules({file}, walk, asJson, context.out, context.err, context.failures,
                 [&](const std::string &module, std::ostream &out) -> Status {
                   if (!named) return ShowCommand(module, format, out);
                   std::ostringstream text;
                   QM_RETURN_IF_ERROR(ShowCommand(module, format, text));
                   out << (format == ShowFormat::Script ? "// File: " : "File:            ") << Shown(module) << "\n"
                       << text.str();
                   return Ok();
                 });
}

} // namespace

void AddShowCommand(CLI::App &app, CommandContext &context) {
  struct Arguments {
    std::string file;
    bool json = false;
    WalkFlags walk;
    std::string format = "text";
  };
  auto a = std::make_shared<Arguments>();
  CLI::App *show = AddCommand(app, "show", "Print the version information of a module, block file or compiled .res");
  show->add_option("FILE", a->file, "module, block file or compiled resource file (told apart by content)")->required();
  CLI::Option *json = show->add_flag("--json", a->json, "print one JSON object instead of text (as --format json)");
  show->add_option("--format", a->format, "text, json or rc (one VERSIONINFO statement for a resource compiler)")
      ->check(CLI::IsMember({"text", "json", "rc"}))
      ->excludes(json);
  AddWalkFlags(*show, a->walk);
  show->callback([a, &context] {
    const ShowFormat format = a->json || a->format == "json" ? ShowFormat::Json
                              : a->format == "rc"            ? ShowFormat::Script
                                                             : ShowFormat::Text;
    ShowEach(a->file, format, a->walk, context);
  });
}

void AddBuildCommand(CLI::App &app, CommandContext &context) {
  struct Arguments {
    std::string input, blockFile;
    ScriptFlags script;
  };
  auto a = std::make_shared<Arguments>();
  CLI::App *build =
      AddCommand(app, "build", "Build a block file from a JSON fields file or a resource script's VERSIONINFO");
  build
      ->add_option("FIELDS", a->input,
                   "JSON fields file, or resource script (told apart by content; - for the standard input)")
      ->required();
  build->add_option("BLOCKFILE", a->blockFile, "block file to write")->required();
  AddScriptFlags(*build, a->script);
  build->callback([a, &context] { context.Report(BuildCommand(a->input, a->blockFile, a->script)); });
}

void AddInjectCommand(CLI::App &app, CommandContext &context) {
  struct Arguments {
    std::string module, blockFile;
    bool raw = false;
    StampFlags stamp;
  };
  auto a = std::make_shared<Arguments>();
  CLI::App *inject =
      AddCommand(app, "inject", "Store a block file as a module's version resource, as quillmark /v does");
  inject->add_option("MODULE", a->module, "module to change")->required();
  inject
      ->add_option("BLOCKFILE", a->blockFile,
                   "version block, or a compiled .res holding one (- for the standard input)")
      ->required();
  inject->add_flag("--raw", a->raw, "store the file's bytes as they are, whatever they hold");
  AddStampFlags(*inject, a->stamp);
  inject->callback([a, &context] {
    context.Report(InjectCommand(a->module, a->blockFile, a->raw, ToStampOptions(a->stamp, context.err)));
  });
}

void AddExtractCommand(CLI::App &app, CommandContext &context) {
  struct Arguments {
    std::string module, blockFile;
  };
  auto a = std::make_shared<Arguments>();
  CLI::App *extract = AddCommand(app, "extract", "Write a module's version resource as a block file");
  extract->add_option("MODULE", a->module, "module to read")->required();
  extract->add_option("BLOCKFILE", a->blockFile, "block file to write")->required();
  extract->callback([a, &context] { context.Report(ExtractCommand(a->module, a->blockFile)); });
}

void AddStampCommand(CLI::App &app, CommandContext &context) {
  struct Arguments {
    std::string module, fields;
    StampFlags stamp;
  };
  auto a = std::make_shared<Arguments>();
  CLI::App *stamp = AddCommand(app, "stamp", "Build a version block from a JSON fields file and store it in a module");
  stamp->add_option("MODULE", a->module, "module to change")->required();
  stamp->add_option("FIELDS", a->fields, "JSON fields file (- for the standard input)")->required();
  AddStampFlags(*stamp, a->stamp);
  stamp->callback(
      [a, &context] { context.Report(StampCommand(a->module, a->fields, ToStampOptions(a->stamp, context.err))); });
}

} // namespace qm::cli
