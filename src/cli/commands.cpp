#include "cli/commands.h"

#include <memory>
#include <vector>

#include "cli/argument_path.h"
#include "cli/block_input.h"
#include "cli/fields_json.h"
#include "cli/file_output.h"
#include "cli/show_report.h"
#include "codec/encoder.h"
#include "codec/text_codec.h"
#include "codec/version_info_reader.h"
#include "pe/appended_data.h"
#include "pe/byte_source.h"
#include "pe/file_kind.h"
#include "pe/version_reader.h"
#include "stamp/module_file.h"

namespace qm::cli {
namespace {

// Reads and encodes a fields file into a block, exactly as saving a block
// file from the editor would: the same encoder, strings taken as UTF-8.
std::optional<Failure> BlockFromFieldsFile(const std::string &fieldsFile, std::vector<std::uint8_t> &block) {
  std::vector<std::uint8_t> text;
  if (auto failure = ReadWholeInput(ArgumentPath(fieldsFile), fieldsFile, "fields file", FileRole::Input, text)) {
    return failure;
  }
  auto fields = FieldsFromJson(std::string_view(reinterpret_cast<const char *>(text.data()), text.size()));
  if (!fields)
    return Failure{ExitCode::FieldsInvalid, "the fields file " + Quoted(fieldsFile) + " is refused: " + fields.error()};
  CallbackBlockSink sink([&](std::span<const std::uint8_t> bytes) {
    block.assign(bytes.begin(), bytes.end());
    return Ok();
  });
  Status built = BuildVersionBlock(EncodeTarget::BlockFile, sink, *fields, Utf8Codec());
  if (!built) return Failure{ExitCode::FieldsInvalid, built.error()};
  return std::nullopt;
}

// The version resource of a module image, in the language of choice.
std::optional<Failure> VersionFromModule(const pe::ByteSource &image, std::string_view shown, VersionPayload &out) {
  auto found = pe::ReadVersionResource(image, kPreferredLanguage);
  if (!found) return Failure{ExitCode::NotAModule, "the module " + Quoted(shown) + " cannot be read: " + found.error()};
  if (!*found) return Failure{ExitCode::NoVersionResource, "the module " + Quoted(shown) + " has no version resource"};
  out.bytes = std::move((*found)->bytes);
  out.language = (*found)->language;
  out.otherLanguages = (*found)->otherLanguages;
  return std::nullopt;
}

// What the module's file holds beyond its image, for show.
void DescribeModuleFile(const pe::ByteSource &image, ShownOrigin &origin) {
  const auto headers = pe::ParseHeaders(image);
  if (!headers) return;
  origin.file = ShownOrigin::ModuleFile{pe::FindSignature(image, *headers), pe::ClassifyAppendedData(image, *headers)};
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
std::optional<Failure> PayloadFromWholeInput(const std::string &file, ShownOrigin &origin, VersionPayload &payload) {
  std::vector<std::uint8_t> bytes;
  if (auto failure = ReadWholeInput(ArgumentPath(file), file, "file", FileRole::Input, bytes)) return failure;
  switch (pe::SniffFileKind(bytes)) {
  case pe::FileKind::PeModule:
    origin.kind = "module";
    DescribeModuleFile(pe::MemorySource(bytes), origin);
    return VersionFromModule(pe::MemorySource(bytes), file, payload);
  case pe::FileKind::CompiledResources:
    origin.kind = "compiled resource file";
    return VersionFromResFile(bytes, file, payload);
  case pe::FileKind::Other:
    break;
  }
  if (!LooksLikeVersionBlock(bytes)) {
    return Failure{ExitCode::InputRefused,
                   Quoted(file) + " is neither a module, a compiled resource file nor a version block"};
  }
  origin.kind = "version block";
  payload.bytes = std::move(bytes);
  return std::nullopt;
}

} // namespace

std::optional<Failure> ShowCommand(const std::string &file, bool asJson, std::ostream &out) {
  VersionPayload payload;
  ShownOrigin origin;
  if (auto module = OpenAsModule(file)) {
    origin.kind = "module";
    if (auto failure = VersionFromModule(*module, file, payload)) return failure;
    DescribeModuleFile(*module, origin);
  } else if (auto failure = PayloadFromWholeInput(file, origin, payload)) {
    return failure;
  }
  origin.language = payload.language;
  origin.otherLanguages = payload.otherLanguages;
  auto info = ReadVersionInfo(payload.bytes);
  if (!info) {
    return Failure{ExitCode::InputRefused,
                   "the version information in " + Quoted(file) + " is damaged: " + info.error()};
  }
  out << (asJson ? ShowAsJson(*info, origin) : ShowAsText(*info, origin));
  out.flush();
  return std::nullopt;
}

std::optional<Failure> BuildCommand(const std::string &fieldsFile, const std::string &blockFile) {
  if (auto failure = RefuseOutputOverInput(blockFile, "block file", fieldsFile, "fields file")) return failure;
  std::vector<std::uint8_t> block;
  if (auto failure = BlockFromFieldsFile(fieldsFile, block)) return failure;
  return WriteOutputFile(ArgumentPath(blockFile), blockFile, "block file", block);
}

std::optional<Failure> InjectCommand(const std::string &module, const std::string &blockFile, bool raw,
                                     const StampOptions &options) {
  std::vector<std::uint8_t> bytes;
  if (auto failure = ReadBlockFile(ArgumentPath(blockFile), blockFile, bytes)) return failure;
  if (!raw && !LooksLikeVersionBlock(bytes)) {
    if (pe::SniffFileKind(bytes) != pe::FileKind::CompiledResources) {
      return Failure{ExitCode::InputRefused,
                     Quoted(blockFile) +
                         " is neither a version block nor a compiled resource file; the module was not changed "
                         "(add --raw to store its bytes as they are)"};
    }
    VersionPayload payload;
    if (auto failure = VersionFromResFile(bytes, blockFile, payload)) return failure;
    bytes = std::move(payload.bytes);
    if (bytes.empty()) {
      return Failure{ExitCode::InputEmpty,
                     "the version resource in " + Quoted(blockFile) + " is empty; the module was not changed"};
    }
  }
  return StoreVersionResource(ArgumentPath(module), module, bytes, options);
}

std::optional<Failure> ExtractCommand(const std::string &module, const std::string &blockFile) {
  if (auto failure = RefuseOutputOverInput(blockFile, "block file", module, "module")) return failure;
  VersionPayload payload;
  if (auto source = OpenAsModule(module)) {
    if (auto failure = VersionFromModule(*source, module, payload)) return failure;
    return WriteOutputFile(ArgumentPath(blockFile), blockFile, "block file", payload.bytes);
  }
  std::vector<std::uint8_t> image;
  if (auto failure = ReadWholeInput(ArgumentPath(module), module, "module", FileRole::Module, image)) {
    return failure;
  }
  if (pe::SniffFileKind(image) != pe::FileKind::PeModule) {
    return Failure{ExitCode::NotAModule, Quoted(module) + " is not a PE module"};
  }
  if (auto failure = VersionFromModule(pe::MemorySource(image), module, payload)) return failure;
  return WriteOutputFile(ArgumentPath(blockFile), blockFile, "block file", payload.bytes);
}

std::optional<Failure> StampCommand(const std::string &module, const std::string &fieldsFile,
                                    const StampOptions &options) {
  std::vector<std::uint8_t> block;
  if (auto failure = BlockFromFieldsFile(fieldsFile, block)) return failure;
  return StoreVersionResource(ArgumentPath(module), module, block, options);
}

} // namespace qm::cli
