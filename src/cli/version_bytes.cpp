#include "cli/version_bytes.h"

#include <algorithm>

#include "base/shown_text.h"
#include "cli/block_input.h"
#include "cli/command_context.h"
#include "cli/module_versions.h"
#include "codec/version_info_reader.h"
#include "pe/file_kind.h"
#include "pe/pe_image.h"
#include "pe/res_file.h"
#include "pe/resource_tree.h"
#include "pe/version_reader.h"

namespace qm::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Candidate {
  std::uint16_t language;
  std::size_t index; // of the leaf or entry holding it
};

// The one to read of the version resources found, and every language.
Result<std::size_t> Choose(const std::vector<Candidate> &found, std::optional<std::uint16_t> language,
                           const std::string &file, SourcedVersion &out) {
  for (const Candidate &c : found)
    out.Languages.push_back(c.language);
  std::sort(out.Languages.begin(), out.Languages.end());
  out.Languages.erase(std::unique(out.Languages.begin(), out.Languages.end()), out.Languages.end());
  const std::uint16_t chosen = language.value_or(pe::ChooseLanguage(out.Languages, kPreferredLanguage));
  for (const Candidate &c : found) {
    if (c.language == chosen) {
      out.Language = chosen;
      return c.index;
    }
  }
  std::string held;
  for (std::uint16_t l : out.Languages)
    held += (held.empty() ? "" : ", ") + LanguageText(l);
  return Error{Quoted(file) + " has no version resource under language " + LanguageText(chosen) + " (it has " + held +
                   ")",
               ErrorKind::NoVersion, FileRole::Input};
}

Result<Bytes> FromModule(const pe::ByteSource &image, const std::string &file, std::optional<std::uint16_t> language,
                         SourcedVersion &out) {
  auto read = [&]() -> Result<Bytes> {
    QM_UNWRAP_OR_RETURN(headers, pe::ParseHeaders(image));
    QM_UNWRAP_OR_RETURN(leaves, pe::ParseResourceTree(image, headers));
    std::vector<Candidate> found;
    for (std::size_t i = 0; i < leaves.size(); ++i) {
      if (leaves[i].type == pe::ResourceId(pe::kTypeVersion) && leaves[i].name == pe::ResourceId(1))
        found.push_back({leaves[i].language, i});
    }
    if (found.empty()) {
      return Error{"the module " + Quoted(file) + " has no version resource", ErrorKind::NoVersion, FileRole::Module};
    }
    QM_UNWRAP_OR_RETURN(index, Choose(found, language, file, out));
    return pe::ReadLeafData(image, headers, leaves[index]);
  };
  out.Kind = "module";
  auto bytes = read();
  if (!bytes && (bytes.failure().kind == ErrorKind::NotAModule || bytes.failure().kind == ErrorKind::Damaged)) {
    Error error = Context("the module " + Quoted(file) + " cannot be read: ", bytes.failure());
    return InRole(FileRole::Module, WithKind(ErrorKind::Damaged, std::move(error)));
  }
  return bytes;
}

Result<Bytes> FromResFile(std::span<const std::uint8_t> bytes, const std::string &file,
                          std::optional<std::uint16_t> language, SourcedVersion &out) {
  out.Kind = "compiled resource file";
  auto entries = pe::ParseResFile(bytes);
  if (!entries) {
    Error error = Context(Quoted(file) + " is not a valid compiled resource file: ", entries.failure());
    return InRole(FileRole::Input, WithKind(ErrorKind::Refused, std::move(error)));
  }
  std::vector<Candidate> found;
  for (std::size_t i = 0; i < entries->size(); ++i) {
    const pe::ResFileEntry &entry = (*entries)[i];
    if (entry.type == pe::ResourceId(pe::kTypeVersion) && entry.name == pe::ResourceId(1))
      found.push_back({entry.language, i});
  }
  if (found.empty()) {
    return Error{"the compiled resource file " + Quoted(file) + " holds no version resource (type 16, name 1)",
                 ErrorKind::Refused, FileRole::Input};
  }
  QM_UNWRAP_OR_RETURN(index, Choose(found, language, file, out));
  return std::move((*entries)[index].data);
}

// The block's information decoded; a block it cannot decode is refused.
Result<SourcedVersion> Decoded(Result<Bytes> bytes, const std::string &file, SourcedVersion out) {
  if (!bytes) return bytes.failure();
  auto info = ReadVersionInfo(*bytes);
  if (!info) {
    Error error = Context("the version information in " + Quoted(file) + " is damaged: ", info.failure());
    return InRole(FileRole::Input, WithKind(ErrorKind::Refused, std::move(error)));
  }
  out.Info = std::move(*info);
  return out;
}

} // namespace

Result<SourcedVersion> VersionFromModuleImage(const pe::ByteSource &image, const std::string &file,
                                              std::optional<std::uint16_t> language) {
  SourcedVersion out;
  Result<Bytes> bytes = FromModule(image, file, language, out);
  return Decoded(std::move(bytes), file, std::move(out));
}

Result<SourcedVersion> VersionFromWholeBytes(std::span<const std::uint8_t> bytes, const std::string &file,
                                             std::optional<std::uint16_t> language) {
  SourcedVersion out;
  Result<Bytes> block = Bytes{};
  switch (pe::SniffFileKind(bytes)) {
  case pe::FileKind::PeModule:
    return VersionFromModuleImage(pe::MemorySource(bytes), file, language);
  case pe::FileKind::CompiledResources:
    block = FromResFile(bytes, file, language, out);
    break;
  case pe::FileKind::Other:
    if (!LooksLikeVersionBlock(bytes)) {
      return Error{Quoted(file) + " is neither a module, a compiled resource file nor a version block",
                   ErrorKind::Refused, FileRole::Input};
    }
    if (language) {
      return Fail(ErrorKind::Usage, "--language: " + Quoted(file) + " is a version block, which has no languages");
    }
    out.Kind = "version block";
    block = Bytes(bytes.begin(), bytes.end());
    break;
  }
  return Decoded(std::move(block), file, std::move(out));
}

} // namespace qm::cli
