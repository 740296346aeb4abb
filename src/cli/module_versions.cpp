#include "cli/module_versions.h"

#include <algorithm>
#include <cstdio>

#include "cli/argument_path.h"
#include "codec/version_info_writer.h"
#include "pe/resource_id.h"
#include "pe/version_reader.h"

namespace qm::cli {
namespace {

constexpr std::uint16_t kImageFileDll = 0x2000;

bool IsVersionItem(const pe::ResourceItem &item) {
  return item.type == pe::ResourceId(pe::kTypeVersion) && item.name == pe::ResourceId(1);
}

bool IsLibraryImage(const pe::ByteSource &image) {
  const auto peOffset = image.U32(0x3C);
  if (!peOffset) return false;
  const auto characteristics = image.U16(std::uint64_t{*peOffset} + 22);
  return characteristics && (*characteristics & kImageFileDll) != 0;
}

} // namespace

std::string LanguageText(std::uint16_t language) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(language));
  return text;
}

std::vector<std::uint16_t> ModuleVersions::Languages() const {
  std::vector<std::uint16_t> languages;
  for (const pe::ResourceItem &item : update_.Items()) {
    if (IsVersionItem(item)) languages.push_back(item.language);
  }
  std::sort(languages.begin(), languages.end());
  return languages;
}

std::optional<Failure> ModuleVersions::Read(std::uint16_t language, VersionInfo &out) const {
  const std::string where =
      "the version resource of " + Quoted(shown_) + " under language " + LanguageText(language) + " ";
  const pe::ResourceItem *item = update_.Find(pe::ResourceId(pe::kTypeVersion), pe::ResourceId(1), language);
  if (!item) return Failure{ExitCode::NoVersionResource, where + "does not exist"};
  // Read as show reads it: a leaf it cannot read is refused here in its words.
  auto bytes = pe::ReadHeldResource(update_, *item);
  if (!bytes) return FailureFor(FileRole::Target, "module", shown_, Fail(ErrorKind::Damaged, bytes.error()));
  auto info = ReadVersionInfo(bytes->Span());
  if (!info) return Failure{ExitCode::InputRefused, where + "is damaged: " + info.error() + "; it was not changed"};
  out = std::move(*info);
  return std::nullopt;
}

bool ModuleVersions::IsLibrary() const { return IsLibraryImage(update_.Source()); }

std::optional<Failure> ModuleVersions::Put(const std::vector<LanguageVersion> &versions) {
  for (const LanguageVersion &version : versions) {
    auto block = EncodeVersionInfo(version.Info);
    if (!block) {
      return Failure{ExitCode::FieldsInvalid, "the version information of " + Quoted(shown_) + " under language " +
                                                  LanguageText(version.Language) +
                                                  " cannot be encoded: " + block.error() + "; it was not changed"};
    }
    Status put = update_.Put(pe::ResourceId(pe::kTypeVersion), pe::ResourceId(1), version.Language, *block);
    if (!put) {
      // The writer's failures here are of room (a resource the image cannot
      // take) unless it says otherwise.
      const ErrorKind kind = put.kind() == ErrorKind::Unspecified ? ErrorKind::NoRoom : put.kind();
      return FailureFor(FileRole::Target, "module", shown_, Fail(kind, put.error()));
    }
  }
  return std::nullopt;
}

std::optional<Failure> EditModule(const std::string &module, bool write,
                                  const std::function<std::optional<Failure>(ModuleVersions &)> &edit) {
  // The edit's own failure says what is wrong with the version information
  // in words and a code of its own: it is reported as it is, not as a
  // module that cannot be stamped.
  std::optional<Failure> refused;
  bool edited = false;
  auto failure = UpdateModule(ArgumentPath(module), module, [&](pe::ResourceUpdate &update) -> Status {
    ModuleVersions versions(update, module);
    refused = edit(versions);
    if (refused) return Fail(refused->message);
    edited = true;
    // A dry run stops here, with the module read under the same hold and
    // checks as a real one, and nothing written.
    if (!write) return Fail("nothing is written in a dry run");
    return Ok();
  });
  if (refused) return refused;
  if (!write && edited) return std::nullopt;
  return failure;
}

} // namespace qm::cli
