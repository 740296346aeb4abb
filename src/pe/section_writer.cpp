#include "pe/section_writer.h"

#include <algorithm>
#include <map>
#include <string_view>

#include "base/byte_reader.h"
#include "pe/pe_layout.h"
#include "pe/text.h"

namespace qm::pe {
namespace {

// Large data left in the file keeps its offset within a file-system block:
// copying it is then whole blocks, which a file system with shared extents
// shares instead of copying. The section's own 8-byte alignment is kept.
constexpr std::uint64_t kBlock = 4096;
constexpr std::uint64_t kLargeBlob = 64 * 1024;
constexpr std::uint64_t kDataAlignment = 8;

Error NoRoom(std::string why) { return Fail(ErrorKind::NoRoom, std::move(why)); }

std::string KeyText(const ResourceItem &item) {
  return Cat("resource ", item.type.ToString(), "/", item.name.ToString(), "/", item.language);
}

std::uint64_t PlaceBlob(std::uint64_t at, const Blob &blob, std::optional<std::uint64_t> sectionOffset) {
  at = AlignUp(at, kDataAlignment);
  if (!sectionOffset || !blob.InFile() || blob.size() < kLargeBlob || blob.FileOffset() % 8 != 0 ||
      *sectionOffset % 8 != 0)
    return at;
  const std::uint64_t want = blob.FileOffset() % kBlock, have = (*sectionOffset + at) % kBlock;
  return at + (want + kBlock - have) % kBlock;
}

struct Range {
  std::size_t begin, end;
  std::size_t size() const { return end - begin; }
};

// The items in the loader's order, grouped into types (the index of each
// type's first item), and names within types ([begin, end) ranges of items).
struct Tree {
  std::vector<const ResourceItem *> items;
  std::vector<std::size_t> types;
  std::vector<Range> names;
  std::vector<std::vector<std::size_t>> namesOfType; // indexes into names

  const ResourceId &TypeOf(std::size_t t) const { return items[types[t]]->type; }
  const ResourceId &NameOf(std::size_t n) const { return items[names[n].begin]->name; }
};

Result<Tree> SortAndGroup(std::span<const ResourceItem> input) {
  Tree tree;
  for (const auto &item : input)
    tree.items.push_back(&item);
  auto &items = tree.items;
  std::sort(items.begin(), items.end(), [](const ResourceItem *a, const ResourceItem *b) {
    if (auto c = a->type <=> b->type; c != 0) return c < 0;
    if (auto c = a->name <=> b->name; c != 0) return c < 0;
    return a->language < b->language;
  });
  for (std::size_t i = 1; i < items.size(); ++i) {
    if (items[i - 1]->type == items[i]->type && items[i - 1]->name == items[i]->name &&
        items[i - 1]->language == items[i]->language)
      return Fail(KeyText(*items[i]) + " is stored twice");
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    const bool newType = i == 0 || !(items[i]->type == items[i - 1]->type);
    if (newType) {
      tree.types.push_back(i);
      tree.namesOfType.emplace_back();
    }
    if (newType || !(items[i]->name == items[i - 1]->name)) {
      tree.namesOfType.back().push_back(tree.names.size());
      tree.names.push_back({i, i});
    }
    tree.names.back().end = i + 1;
  }
  return tree;
}

// No directory may count more entries than its 16-bit fields hold.
Status CheckCounts(const Tree &tree) {
  if (tree.types.size() > 0xFFFF) return NoRoom("more than 65535 resource types for one directory");
  for (const Range &languages : tree.names) {
    if (languages.size() > 0xFFFF) {
      const ResourceItem &first = *tree.items[languages.begin];
      return NoRoom(Cat("resource ", first.type.ToString(), "/", first.name.ToString(), ": ", languages.size(),
                        " languages, more than the 65535 a directory holds"));
    }
  }
  for (std::size_t t = 0; t < tree.types.size(); ++t) {
    if (tree.namesOfType[t].size() > 0xFFFF)
      return NoRoom(Cat("resource type ", tree.TypeOf(t).ToString(), ": ", tree.namesOfType[t].size(),
                        " names, more than the 65535 a directory holds"));
  }
  return Ok();
}

// Where everything lies in the section: root, name directories, language
// directories, data entries, names, then the data.
struct Offsets {
  std::vector<std::uint64_t> nameDirAt, langDirAt, dataEntryAt;
  std::vector<std::uint64_t> typeNameAt, nameNameAt; // 0 for an id
  std::map<std::u16string_view, std::uint64_t> names;
  std::vector<std::uint64_t> dataAt; // for items that are not kept by address
  std::map<const Blob *, std::uint64_t> blobAt;
  std::vector<const Blob *> blobs; // in the order placed
  std::uint64_t headSize = 0;
  std::uint64_t size = 0;
};

std::uint64_t PlaceDirectories(const Tree &tree, Offsets &o) {
  std::uint64_t at = kDirectoryHeaderSize + kEntrySize * tree.types.size();
  o.nameDirAt.resize(tree.types.size());
  o.langDirAt.resize(tree.names.size());
  o.dataEntryAt.resize(tree.items.size());
  for (std::size_t t = 0; t < tree.types.size(); ++t) {
    o.nameDirAt[t] = at;
    at += kDirectoryHeaderSize + kEntrySize * tree.namesOfType[t].size();
  }
  for (std::size_t n = 0; n < tree.names.size(); ++n) {
    o.langDirAt[n] = at;
    at += kDirectoryHeaderSize + kEntrySize * tree.names[n].size();
  }
  for (std::size_t i = 0; i < tree.items.size(); ++i) {
    o.dataEntryAt[i] = at;
    at += kDataEntrySize;
  }
  return at;
}

// Each distinct name once, however many entries carry it: one long name
// under many types must not make the section grow with their number.
// Copies of an id share its text, so most are found by address.
std::uint64_t PlaceNames(const Tree &tree, Offsets &o, std::uint64_t at) {
  std::map<const std::u16string *, std::uint64_t> namesByAddress;
  const auto placeName = [&](const ResourceId &id) -> std::uint64_t {
    if (!id.IsNamed()) return 0;
    if (const auto known = namesByAddress.find(&id.Name()); known != namesByAddress.end()) return known->second;
    const auto [place, added] = o.names.try_emplace(id.Name(), at);
    if (added) at += 2 + 2 * std::uint64_t{id.Name().size()};
    namesByAddress.emplace(&id.Name(), place->second);
    return place->second;
  };
  o.typeNameAt.resize(tree.types.size());
  o.nameNameAt.resize(tree.names.size());
  for (std::size_t t = 0; t < tree.types.size(); ++t)
    o.typeNameAt[t] = placeName(tree.TypeOf(t));
  for (std::size_t n = 0; n < tree.names.size(); ++n)
    o.nameNameAt[n] = placeName(tree.NameOf(n));
  return at;
}

// Each blob once, however many leaves share it, in the order placed.
std::uint64_t PlaceData(const Tree &tree, Offsets &o, std::uint64_t at, std::optional<std::uint64_t> sectionOffset) {
  o.dataAt.resize(tree.items.size());
  for (std::size_t i = 0; i < tree.items.size(); ++i) {
    const LeafBytes &data = tree.items[i]->data;
    if (tree.items[i]->keepAddress || !data.GetBlob()) continue;
    auto [blob, added] = o.blobAt.emplace(data.GetBlob().get(), 0);
    if (added) {
      at = PlaceBlob(at, *data.GetBlob(), sectionOffset);
      blob->second = at;
      o.blobs.push_back(data.GetBlob().get());
      at += data.GetBlob()->size();
    }
    o.dataAt[i] = blob->second + data.Offset();
  }
  return AlignUp(at, kDataAlignment);
}

Result<Offsets> PlanOffsets(const Tree &tree, std::uint32_t sectionRva, std::optional<std::uint64_t> sectionOffset) {
  Offsets o;
  o.headSize = PlaceNames(tree, o, PlaceDirectories(tree, o));
  o.size = PlaceData(tree, o, o.headSize, sectionOffset);
  if (o.size > 0x7FFFFFFFu || std::uint64_t{sectionRva} + o.size > 0xFFFFFFFFu)
    return NoRoom(Cat("the resources need ", o.size, " bytes, too many for one section"));
  return o;
}

void PutDirectory(std::vector<std::uint8_t> &out, std::uint64_t at, std::size_t named, std::size_t total) {
  PutU16(out, at + kDirectoryNamedCount, static_cast<std::uint16_t>(named));
  PutU16(out, at + kDirectoryIdCount, static_cast<std::uint16_t>(total - named));
}

void PutEntry(std::vector<std::uint8_t> &out, std::uint64_t at, const ResourceId &id, std::uint64_t nameAt,
              std::uint32_t target) {
  PutU32(out, at, id.IsNamed() ? kHighBit | static_cast<std::uint32_t>(nameAt) : id.Id());
  PutU32(out, at + kEntryTarget, target);
}

void WriteNames(std::vector<std::uint8_t> &out, const Offsets &o) {
  for (const auto &[name, nameAt] : o.names) {
    PutU16(out, nameAt, static_cast<std::uint16_t>(name.size()));
    for (std::size_t k = 0; k < name.size(); ++k)
      PutU16(out, nameAt + 2 + 2 * k, name[k]);
  }
}

void WriteDirectories(std::vector<std::uint8_t> &out, const Tree &tree, const Offsets &o) {
  const auto namedTypes = std::count_if(tree.types.begin(), tree.types.end(),
                                        [&](std::size_t first) { return tree.items[first]->type.IsNamed(); });
  PutDirectory(out, 0, static_cast<std::size_t>(namedTypes), tree.types.size());
  for (std::size_t t = 0; t < tree.types.size(); ++t) {
    PutEntry(out, kDirectoryHeaderSize + kEntrySize * t, tree.TypeOf(t), o.typeNameAt[t],
             kHighBit | static_cast<std::uint32_t>(o.nameDirAt[t]));
    const auto &names = tree.namesOfType[t];
    const auto namedNames =
        std::count_if(names.begin(), names.end(), [&](std::size_t n) { return tree.NameOf(n).IsNamed(); });
    PutDirectory(out, o.nameDirAt[t], static_cast<std::size_t>(namedNames), names.size());
    for (std::size_t k = 0; k < names.size(); ++k) {
      const std::size_t n = names[k];
      PutEntry(out, o.nameDirAt[t] + kDirectoryHeaderSize + kEntrySize * k, tree.NameOf(n), o.nameNameAt[n],
               kHighBit | static_cast<std::uint32_t>(o.langDirAt[n]));
      const Range languages = tree.names[n];
      PutDirectory(out, o.langDirAt[n], 0, languages.size());
      // A language is a number, never a name.
      for (std::size_t i = languages.begin; i < languages.end; ++i) {
        const std::uint64_t entry = o.langDirAt[n] + kDirectoryHeaderSize + kEntrySize * (i - languages.begin);
        PutU32(out, entry, tree.items[i]->language);
        PutU32(out, entry + kEntryTarget, static_cast<std::uint32_t>(o.dataEntryAt[i]));
      }
    }
  }
}

void WriteDataEntries(std::vector<std::uint8_t> &out, const Tree &tree, const Offsets &o, std::uint32_t sectionRva) {
  for (std::size_t i = 0; i < tree.items.size(); ++i) {
    const ResourceItem &item = *tree.items[i];
    const std::uint64_t at = o.dataEntryAt[i];
    if (item.keepAddress) {
      PutU32(out, at + kDataEntryRva, item.keptRva);
      PutU32(out, at + kDataEntrySizeField, item.keptSize);
    } else {
      PutU32(out, at + kDataEntryRva, sectionRva + static_cast<std::uint32_t>(o.dataAt[i]));
      PutU32(out, at + kDataEntrySizeField, static_cast<std::uint32_t>(item.data.size()));
    }
    PutU32(out, at + kDataEntryCodePage, item.codePage);
  }
}

// The head, then each blob at its place: from the module file where it
// stays there, else from memory.
Result<NewFile> AppendData(std::vector<std::uint8_t> head, const Offsets &o, bool leaveInFile) {
  NewFile section;
  section.Append(std::move(head));
  for (const Blob *blob : o.blobs) {
    section.Zeros(o.blobAt.at(blob) - section.Size());
    if (blob->InFile() && leaveInFile) {
      section.Copy(blob->FileOffset(), blob->size());
    } else {
      const auto &held = blob->Held();
      if (held->size() != blob->size())
        return Fail(ErrorKind::Unreadable, Cat("cannot read ", blob->size(), " bytes of resource data"));
      section.Append(held, 0, held->size());
    }
  }
  section.Zeros(o.size - section.Size());
  return section;
}

Result<NewFile> LaySection(std::span<const ResourceItem> input, std::uint32_t sectionRva,
                           std::optional<std::uint64_t> sectionOffset, bool leaveInFile) {
  QM_UNWRAP_OR_RETURN(tree, SortAndGroup(input));
  QM_UNWRAP_OR_RETURN(offsets, PlanOffsets(tree, sectionRva, leaveInFile ? sectionOffset : std::nullopt));
  QM_RETURN_IF_ERROR(CheckCounts(tree));
  std::vector<std::uint8_t> head(static_cast<std::size_t>(offsets.headSize), 0);
  WriteNames(head, offsets);
  WriteDirectories(head, tree, offsets);
  WriteDataEntries(head, tree, offsets, sectionRva);
  return AppendData(std::move(head), offsets, leaveInFile);
}

} // namespace

Result<NewFile> LayResourceSection(std::span<const ResourceItem> items, std::uint32_t sectionRva,
                                   std::optional<std::uint64_t> sectionOffset) {
  return LaySection(items, sectionRva, sectionOffset, true);
}

Result<std::vector<std::uint8_t>> BuildResourceSection(std::span<const ResourceItem> items, std::uint32_t sectionRva) {
  QM_UNWRAP_OR_RETURN(section, LaySection(items, sectionRva, std::nullopt, false));
  return section.Materialize(MemorySource({}));
}

} // namespace qm::pe
