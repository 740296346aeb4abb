#include "cli/module_versions.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <tuple>

#include "base/shown_text.h"
#include "cli/command_context.h"
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

Result<pe::LeafBytes> ModuleVersions::ReadBytes(std::uint16_t language) const {
  const pe::ResourceItem *item = update_.Find(pe::ResourceId(pe::kTypeVersion), pe::ResourceId(1), language);
  if (!item) return Error{Where(language) + "does not exist", ErrorKind::NoVersion, FileRole::Target};
  // Read as show reads it: a leaf it cannot read is refused here in its words.
  auto bytes = pe::ReadHeldResource(update_, *item);
  if (!bytes)
    return stamp::FileError(FileRole::Target, "module", shown_, WithKind(ErrorKind::Damaged, bytes.failure()));
  return std::move(*bytes);
}

Result<VersionInfo> ModuleVersions::Decode(std::uint16_t language, const pe::LeafBytes &bytes) const {
  auto info = ReadVersionInfo(bytes.Span());
  if (!info) {
    Error error = Context(Where(language) + "is damaged: ", info.failure());
    error.message += "; it was not changed";
    return InRole(FileRole::Target, WithKind(ErrorKind::Refused, std::move(error)));
  }
  return info;
}

Result<VersionInfo> ModuleVersions::Read(std::uint16_t language) const {
  QM_UNWRAP_OR_RETURN(bytes, ReadBytes(language));
  return Decode(language, bytes);
}

bool ModuleVersions::IsLibrary() const { return IsLibraryImage(update_.Source()); }

Result<pe::LeafBytes> ModuleVersions::Encode(std::uint16_t language, const VersionInfo &info) const {
  auto encoded = EncodeVersionInfo(info);
  if (!encoded) {
    Error error = Context("the version information of " + Quoted(shown_) + " under language " + LanguageText(language) +
                              " cannot be encoded: ",
                          encoded.failure());
    error.message += "; it was not changed";
    return InRole(FileRole::Target, WithKind(ErrorKind::Invalid, std::move(error)));
  }
  return pe::LeafBytes(std::move(*encoded));
}

Status ModuleVersions::Store(std::uint16_t language, const pe::LeafBytes &block) {
  Status put = update_.PutShared(pe::ResourceId(pe::kTypeVersion), pe::ResourceId(1), language, block);
  // The writer says of what kind its refusal is (a resource the image
  // cannot take is one of room).
  if (!put) return stamp::FileError(FileRole::Target, "module", shown_, put.failure());
  return Ok();
}

Status ModuleVersions::Put(const std::vector<LanguageVersion> &versions) {
  for (const LanguageVersion &version : versions) {
    QM_UNWRAP_OR_RETURN(block, Encode(version.Language, version.Info));
    QM_RETURN_IF_ERROR(Store(version.Language, block));
  }
  return Ok();
}

Result<std::vector<StoredVersion>> ModuleVersions::Edit(const std::vector<std::uint16_t> &languages,
                                                        const std::function<void(std::uint16_t, VersionInfo &)> &edit) {
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
    QM_UNWRAP_OR_RETURN(bytes, ReadBytes(language));
    const auto [at, added] = groupOf.try_emplace({bytes.GetBlob().get(), bytes.Offset(), bytes.size()}, groups.size());
    if (added) {
      QM_UNWRAP_OR_RETURN(info, Decode(language, bytes));
      groups.emplace_back().info = std::move(info);
    }
    ++groups[at->second].left;
    groupOfLanguage.push_back(at->second);
  }
  std::vector<StoredVersion> stored;
  for (std::size_t i = 0; i < languages.size(); ++i) {
    Group &group = groups[groupOfLanguage[i]];
    pe::LeafBytes block = group.shared;
    if (!block.GetBlob()) {
      VersionInfo info = group.info;
      edit(languages[i], info);
      QM_UNWRAP_OR_RETURN(encoded, Encode(languages[i], info));
      block = std::move(encoded);
      // An edit depends on the language only where it names a new table
      // after it: two languages of one group that come out alike show that
      // it does not, and the rest of the group takes the same block.
      if (!group.first.GetBlob()) {
        group.first = block;
      } else if (!group.decided) {
        group.decided = true;
        const auto now = block.Span(), first = group.first.Span();
        if (std::equal(now.begin(), now.end(), first.begin(), first.end())) block = group.shared = group.first;
      }
    }
    QM_RETURN_IF_ERROR(Store(languages[i], block));
    stored.push_back({languages[i], block});
    // A group done gives back its decoded copy.
    if (--group.left == 0) group = Group{};
  }
  return stored;
}

Status EditVersionsWith(const std::string &module, const std::function<Status(ModuleVersions &)> &edit,
                        const std::function<Status(const stamp::ResourceChange &)> &stamp) {
  // The edit's own failure says what is wrong with the version information
  // in words and a kind of its own: it is reported as it is, not as a
  // module that cannot be stamped.
  std::optional<Error> refused;
  Status updated = stamp([&](pe::ResourceUpdate &update) -> Status {
    ModuleVersions versions(update, module);
    Status edited = edit(versions);
    if (!edited) refused = edited.failure();
    return edited;
  });
  if (refused) return *std::move(refused);
  return updated;
}

} // namespace qm::cli
