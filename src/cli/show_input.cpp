#include "cli/show_input.h"

#include "base/shown_text.h"
#include "cli/command_context.h"
#include "cli/fields_json.h"
#include "cli/script_input.h"
#include "codec/encoder.h"
#include "codec/text_codec.h"
#include "codec/version_info_reader.h"
#include "codec/version_info_writer.h"
#include "pe/appended_data.h"
#include "pe/file_kind.h"
#include "pe/pe_image.h"
#include "pe/self_checking_packer.h"

namespace qm::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A resource script's VERSIONINFO as a block, as a resource compiler would
// write it; the script's language has no place in a bare block.
Result<Bytes> BlockFromScript(std::span<const std::uint8_t> text, const std::string &scriptFile,
                              const ScriptFlags &flags, const ScriptPlace &place) {
  QM_UNWRAP_OR_RETURN(parsed, VersionInfoFromScript(text, scriptFile, flags, place));
  auto block = EncodeVersionInfo(parsed.Info);
  if (!block) {
    Error error = Context("the resource script " + Quoted(scriptFile) + " is refused: ", block.failure());
    return InRole(FileRole::Input, WithKind(ErrorKind::Invalid, std::move(error)));
  }
  return std::move(*block);
}

// The information in the form asked for; a script may fail to say it.
Result<std::string> InFormat(const VersionInfo &info, const ShownOrigin &origin, ShowFormat format,
                             std::string_view file) {
  switch (format) {
  case ShowFormat::Text:
    return ShowAsText(info, origin);
  case ShowFormat::Json:
    return ShowAsJson(info, origin);
  case ShowFormat::Script:
    break;
  }
  auto script = ShowAsScript(info, origin);
  if (!script) {
    Error error = Context("the version information in " + Quoted(file) +
                              " cannot be written as a resource script (show --json prints it whole): ",
                          script.failure());
    return InRole(FileRole::Input, WithKind(ErrorKind::Refused, std::move(error)));
  }
  return script;
}

} // namespace

void DescribeModuleFile(const pe::ByteSource &image, ShownOrigin &origin) {
  const auto headers = pe::ParseHeaders(image);
  if (!headers) return;
  origin.file = ShownOrigin::ModuleFile{pe::FindSignature(image, *headers), pe::ClassifyAppendedData(image, *headers),
                                        pe::FindSelfCheckingPacker(image, *headers)};
}

Result<VersionPayload> PayloadFromBytes(std::vector<std::uint8_t> bytes, const std::string &file, ShownOrigin &origin) {
  switch (pe::SniffFileKind(bytes)) {
  case pe::FileKind::PeModule:
    origin.kind = "module";
    DescribeModuleFile(pe::MemorySource(bytes), origin);
    return VersionFromModule(pe::MemorySource(bytes), file);
  case pe::FileKind::CompiledResources:
    origin.kind = "compiled resource file";
    return VersionFromResFile(bytes, file);
  case pe::FileKind::Other:
    break;
  }
  if (!LooksLikeVersionBlock(bytes)) {
    return Error{Quoted(file) + " is neither a module, a compiled resource file nor a version block",
                 ErrorKind::Refused, FileRole::Input};
  }
  origin.kind = "version block";
  VersionPayload payload;
  payload.bytes = std::move(bytes);
  return payload;
}

Result<std::string> ShowPayload(const VersionPayload &payload, ShownOrigin origin, ShowFormat format,
                                std::string_view file) {
  origin.language = payload.language;
  origin.otherLanguages = payload.otherLanguages;
  auto info = ReadVersionInfo(payload.bytes);
  if (!info) {
    Error error = Context("the version information in " + Quoted(file) + " is damaged: ", info.failure());
    return InRole(FileRole::Input, WithKind(ErrorKind::Refused, std::move(error)));
  }
  return InFormat(*info, origin, format, file);
}

Result<Bytes> BlockFromFields(std::span<const std::uint8_t> text, const std::string &fieldsFile) {
  auto fields = FieldsFromJson(std::string_view(reinterpret_cast<const char *>(text.data()), text.size()));
  if (!fields) {
    Error error = Context("the fields file " + Quoted(fieldsFile) + " is refused: ", fields.failure());
    return InRole(FileRole::Input, WithKind(ErrorKind::Invalid, std::move(error)));
  }
  Bytes block;
  BlockSink sink([&](std::span<const std::uint8_t> bytes) {
    block.assign(bytes.begin(), bytes.end());
    return Ok();
  });
  Status built = BuildVersionBlock(EncodeTarget::BlockFile, sink, *fields, Utf8Codec());
  if (!built) return InRole(FileRole::Input, WithKind(ErrorKind::Invalid, built.failure()));
  return block;
}

Result<Bytes> BlockFromText(std::span<const std::uint8_t> text, const std::string &input, const ScriptFlags &flags,
                            const ScriptPlace &place) {
  return LooksLikeJson(text) ? BlockFromFields(text, input) : BlockFromScript(text, input, flags, place);
}

} // namespace qm::cli
