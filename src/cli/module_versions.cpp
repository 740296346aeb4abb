#include "cli/module_versions.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <tuple>

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

std::string ModuleVersions::Where(std::uint16_t language) const {
  return "the version resource of " + Quoted(shown_) + " under language " + LanguageText(language) + " ";
}

std::optional<Failure> ModuleVersions::ReadBytes(std::uint16_t language, pe::LeafBytes &out) const {
  const pe::ResourceItem *item = update_.Find(pe::ResourceId(pe::kTypeVersion), pe::ResourceId(1), language);
  if (!item) return Failure{ExitCode::NoVersionResource, Where(language) + "does not exist"};
  // Read as show reads it: a leaf it cannot read is refused here in its words.
  auto bytes = pe::ReadHeldResource(update_, *item);
  if (!bytes) return FailureFor(FileRole::Target, "module", shown_, Fail(ErrorKind::Damaged, bytes.error()));
  out = std::move(*bytes);
  return std::nullopt;
}

std::optional<Failure> ModuleVersions::Decode(std::uint16_t language, const pe::LeafBytes &bytes,
                                              VersionInfo &out) const {
  auto info = ReadVersionInfo(bytes.Span());
  if (!info)
    return Failure{ExitCode::InputRefused, Where(language) + "is damaged: " + info.error() + "; it was not changed"};
  out = std::move(*info);
  return std::nullopt;
}

std::optional<Failure> ModuleVersions::Read(std::uint16_t language, VersionInfo &out) const {
  pe::LeafBytes bytes;
  if (auto failure = ReadBytes(language, bytes)) return failure;
  return Decode(language, bytes, out);
}

bool ModuleVersions::IsLibrary() const { return IsLibraryImage(update_.Source()); }

std::optional<Failure> ModuleVersions::Encode(std::uint16_t language, const VersionInfo &info,
                                              pe::LeafBytes &block) const {
  auto encoded = EncodeVersionInfo(info);
  if (!encoded) {
    return Failure{ExitCode::FieldsInvalid, "the version information of " + Quoted(shown_) + " under language " +
                                                LanguageText(language) + " cannot be encoded: " + encoded.error() +
                                                "; it was not changed"};
  }
  block = pe::LeafBytes(std::move(*encoded));
  return std::nullopt;
}

std::optional<Failure> ModuleVersions::Store(std::uint16_t language, const pe::LeafBytes &block) {
  Status put = update_.PutShared(pe::ResourceId(pe::kTypeVersion), pe::ResourceId(1), language, block);
  if (!put) {
    // The writer's failures here are of room (a resource the image cannot
    // take) unless it says otherwise.
    const ErrorKind kind = put.kind() == ErrorKind::Unspecified ? ErrorKind::NoRoom : put.kind();
    return FailureFor(FileRole::Target, "module", shown_, Fail(kind, put.error()));
  }
  return std::nullopt;
}

std::optional<Failure> ModuleVersions::Put(const std::vector<LanguageVersion> &versions) {
  for (const LanguageVersion &version : versions) {
    pe::LeafBytes block;
    if (auto failure = Encode(version.Language, version.Info, block)) return failure;
    if (auto failure = Store(version.Language, block)) return failure;
  }
  return std::nullopt;
}

std::optional<Failure> ModuleVersions::Edit(const std::vector<std::uint16_t> &languages,
                                            const std::function<void(std::uint16_t, VersionInfo &)> &edit,
                                            std::vector<StoredVersion> &stored) {
  // Languages whose leaves are one range of one blob hold the same bytes.
  struct Group {
    VersionInfo info;
    pe::LeafBytes first;  // the first language's new block
    pe::LeafBytes shared; // set once a second language came out the same
    bool decided = false;
    std::size_t left = 0; // languages still to store
  };
  std::map<std::tuple<const pe::Blob *, std::size_t, std::size_t>, std::size_t> groupOf;
  std::vector<Group> groups;
  std::vector<std::size_t> groupOfLanguage;
  // Every read first, in order, so that a damaged one is found before
  // anything is encoded.
  for (std::uint16_t language : languages) {
    pe::LeafBytes bytes;
    if (auto failure = ReadBytes(language, bytes)) return failure;
    const auto [at, added] = groupOf.try_emplace({bytes.GetBlob().get(), bytes.Offset(), bytes.size()}, groups.size());
    if (added) {
      groups.emplace_back();
      if (auto failure = Decode(language, bytes, groups.back().info)) return failure;
    }
    ++groups[at->second].left;
    groupOfLanguage.push_back(at->second);
  }
  for (std::size_t i = 0; i < languages.size(); ++i) {
    Group &group = groups[groupOfLanguage[i]];
    pe::LeafBytes block = group.shared;
    if (!block.GetBlob()) {
      VersionInfo info = group.info;
      edit(languages[i], info);
      if (auto failure = Encode(languages[i], info, block)) return failure;
      // An edit depends on the language only where it names a new table
      // after it: two languages of one group that come out alike show that
      // it does not, and the rest of the group takes the same block.
      if (!group.first.GetBlob()) {
        group.first = block;
      } else if (!group.decided) {
        group.decided = true;
        if (std::ranges::equal(block.Span(), group.first.Span())) block = group.shared = group.first;
      }
    }
    if (auto failure = Store(languages[i], block)) return failure;
    stored.push_back({languages[i], block});
    // A group done gives back its decoded copy.
    if (--group.left == 0) group = Group{};
  }
  return std::nullopt;
}

std::optional<Failure> EditModule(const std::string &module, bool write,
                                  const std::function<std::optional<Failure>(ModuleVersions &)> &edit,
                                  const StampOptions &options) {
  // The edit's own failure says what is wrong with the version information
  // in words and a code of its own: it is reported as it is, not as a
  // module that cannot be stamped.
  std::optional<Failure> refused;
  bool edited = false;
  auto failure = UpdateModule(
      ArgumentPath(module), module,
      [&](pe::ResourceUpdate &update) -> Status {
    ModuleVersions versions(update, module);
    refused = edit(versions);
    if (refused) return Fail(refused->message);
    edited = true;
    // A dry run stops here, with the module read under the same hold and
    // checks as a real one, and nothing written.
    if (!write) return Fail("nothing is written in a dry run");
    return Ok();
      },
      options);
  if (refused) return refused;
  if (!write && edited) return std::nullopt;
  return failure;
}

} // namespace qm::cli
