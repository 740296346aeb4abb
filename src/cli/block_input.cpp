#include "cli/block_input.h"

#include <algorithm>
#include <string_view>

#include "base/shown_text.h"
#include "cli/command_context.h"
#include "pe/file_kind.h"
#include "pe/res_file.h"
#include "pe/version_reader.h"

namespace qm::cli {

bool LooksLikeVersionBlock(std::span<const std::uint8_t> bytes) {
  constexpr std::u16string_view kKey = u"VS_VERSION_INFO";
  constexpr std::size_t kKeyOffset = 6;
  if (bytes.size() < kKeyOffset + 2 * (kKey.size() + 1)) return false;
  for (std::size_t i = 0; i <= kKey.size(); ++i) {
    const char16_t expected = i < kKey.size() ? kKey[i] : u'\0';
    const std::size_t at = kKeyOffset + 2 * i;
    if (bytes[at] != (expected & 0xFF) || bytes[at + 1] != (expected >> 8)) return false;
  }
  return true;
}

Result<VersionPayload> VersionFromResFile(std::span<const std::uint8_t> bytes, std::string_view shown) {
  auto entries = pe::ParseResFile(bytes);
  if (!entries) {
    Error error = Context(Quoted(shown) + " is not a valid compiled resource file: ", entries.failure());
    return InRole(FileRole::Input, WithKind(ErrorKind::Refused, std::move(error)));
  }
  std::vector<std::uint16_t> languages;
  for (const pe::ResFileEntry &entry : *entries) {
    if (entry.type == pe::ResourceId(pe::kTypeVersion) && entry.name == pe::ResourceId(1)) {
      languages.push_back(entry.language);
    }
  }
  if (languages.empty()) {
    return Error{"the compiled resource file " + Quoted(shown) + " holds no version resource (type 16, name 1)",
                 ErrorKind::Refused, FileRole::Input};
  }
  VersionPayload out;
  const std::uint16_t chosen = pe::ChooseLanguage(languages, kPreferredLanguage);
  for (pe::ResFileEntry &entry : *entries) {
    if (entry.type == pe::ResourceId(pe::kTypeVersion) && entry.name == pe::ResourceId(1) && entry.language == chosen &&
        !out.language) {
      out.bytes = std::move(entry.data);
      out.language = chosen;
    } else if (entry.type == pe::ResourceId(pe::kTypeVersion) && entry.name == pe::ResourceId(1)) {
      out.otherLanguages.push_back(entry.language);
    }
  }
  std::sort(out.otherLanguages.begin(), out.otherLanguages.end());
  out.otherLanguages.erase(std::unique(out.otherLanguages.begin(), out.otherLanguages.end()), out.otherLanguages.end());
  return out;
}

// The version resource of a module image, in the language of choice.
Result<VersionPayload> VersionFromModule(const pe::ByteSource &image, std::string_view shown) {
  auto found = pe::ReadVersionResource(image, kPreferredLanguage);
  if (!found) {
    Error error = Context("the module " + Quoted(shown) + " cannot be read: ", found.failure());
    return InRole(FileRole::Module, WithKind(ErrorKind::Damaged, std::move(error)));
  }
  if (!*found) {
    return Error{"the module " + Quoted(shown) + " has no version resource", ErrorKind::NoVersion, FileRole::Module};
  }
  VersionPayload out;
  out.bytes = std::move((*found)->bytes);
  out.language = (*found)->language;
  out.otherLanguages = (*found)->otherLanguages;
  return out;
}

Result<std::vector<std::uint8_t>> BlockToStore(std::vector<std::uint8_t> bytes, bool raw, std::string_view blockFile) {
  if (bytes.empty()) {
    return Error{"the block file " + Quoted(blockFile) + " is empty; the module was not changed", ErrorKind::Empty,
                 FileRole::Input};
  }
  if (raw || LooksLikeVersionBlock(bytes)) return bytes;
  if (pe::SniffFileKind(bytes) != pe::FileKind::CompiledResources) {
    return Error{Quoted(blockFile) +
                     " is neither a version block nor a compiled resource file; the module was not changed "
                     "(add --raw to store its bytes as they are)",
                 ErrorKind::Refused, FileRole::Input};
  }
  QM_UNWRAP_OR_RETURN(payload, VersionFromResFile(bytes, blockFile));
  if (payload.bytes.empty()) {
    return Error{"the version resource in " + Quoted(blockFile) + " is empty; the module was not changed",
                 ErrorKind::Empty, FileRole::Input};
  }
  return std::move(payload.bytes);
}

} // namespace qm::cli
