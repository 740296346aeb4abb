#include "pe/resource_tree.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <string_view>

#include "base/byte_reader.h"
#include "pe/text.h"

namespace qm::pe {
namespace {

constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::size_t kDirectoryHeaderSize = 16;
constexpr std::size_t kEntrySize = 8;
constexpr std::size_t kDataEntrySize = 16;
// Each distinct name is held once (shared by the leaves below it); a hostile
// tree with many long names must still not exhaust memory.
constexpr std::size_t kMaxNameUnitsTotal = std::size_t{16} << 20;
// The zeros given for data past a section's raw bytes.
constexpr std::uint32_t kMaxUnbackedRead = 64u << 20;

const char *const kLevelNames[] = {"type", "name", "language"};

class TreeWalker {
public:
  TreeWalker(const ByteSource &source, const PeHeaders &headers, std::uint32_t base)
      : source_(source), headers_(headers), base_(base) {}

  Status Walk() {
    ResourceLeaf path;
    return WalkDirectory(0, 0, path);
  }
  std::vector<ResourceLeaf> TakeLeaves() { return std::move(leaves_); }

private:
  // The file offset of `length` bytes at `offset` from the tree's start.
  std::optional<std::uint64_t> Locate(std::uint32_t offset, std::uint32_t length) {
    const std::uint64_t rva = std::uint64_t{base_} + offset;
    if (rva > 0xFFFFFFFFu) return std::nullopt;
    const auto fileOffset = headers_.RvaToOffset(static_cast<std::uint32_t>(rva), length);
    if (fileOffset) CountBytesOf(static_cast<std::uint32_t>(rva));
    return fileOffset;
  }
  std::optional<std::vector<std::uint8_t>> Read(std::uint32_t offset, std::uint32_t length) {
    const auto fileOffset = Locate(offset, length);
    if (!fileOffset) return std::nullopt;
    return source_.Bytes(*fileOffset, length);
  }

  // The tree's entries can be no more than its bytes hold apart: the file
  // bytes of each section (or of the headers) it is read from, and of the
  // file. Shared subtrees are read once per entry that reaches them, and
  // every such read counts, so a few bytes read as many directories cannot
  // make the work or the leaves outgrow the file.
  void CountBytesOf(std::uint32_t rva) {
    const auto index = headers_.SectionOfRva(rva);
    const std::size_t region = index ? *index : headers_.sections.size();
    if (std::find(regions_.begin(), regions_.end(), region) != regions_.end()) return;
    regions_.push_back(region);
    std::uint64_t bytes = headers_.sizeOfHeaders;
    if (index) {
      const Section &s = headers_.sections[*index];
      const std::uint64_t inFile = s.pointerToRawData < source_.Size() ? source_.Size() - s.pointerToRawData : 0;
      bytes = std::min<std::uint64_t>(s.BackedSize(), inFile);
    }
    treeBytes_ = std::min<std::uint64_t>(treeBytes_ + bytes, source_.Size());
  }

  // A name several entries point at is read and held once.
  // `where` makes the text that names the entry, only for a message.
  template <typename Where> Result<ResourceId> ReadName(std::uint32_t offset, const Where &where) {
    if (const auto known = names_.find(offset); known != names_.end()) return known->second;
    auto name = ReadNameText(offset, where);
    if (!name) return Fail(name.error());
    return names_.emplace(offset, ResourceId::Named(std::move(*name))).first->second;
  }

  template <typename Where> Result<std::u16string> ReadNameText(std::uint32_t offset, const Where &where) {
    const auto lengthBytes = Read(offset, 2);
    if (!lengthBytes) return Fail(Cat(where(), ": name at ", Hex(offset), " is outside the resource section"));
    const std::uint16_t length = *ByteReader(*lengthBytes).u16(0);
    // An empty name may end the section: there is no address past it to map.
    if (length == 0) return std::u16string();
    const auto units = Read(offset + 2, std::uint32_t{length} * 2);
    if (!units)
      return Fail(Cat(where(), ": name at ", Hex(offset), " (", length, " characters) runs out of the resource section"));
    nameUnits_ += length;
    if (nameUnits_ > kMaxNameUnitsTotal) return Fail(Cat(where(), ": the tree's names are too large to hold"));
    std::u16string name(length, u'\0');
    ByteReader r(*units);
    for (std::size_t i = 0; i < length; ++i)
      name[i] = static_cast<char16_t>(*r.u16(2 * i));
    return name;
  }

  Status WalkDirectory(std::uint32_t offset, int level, ResourceLeaf &path) {
    const auto where = [&] { return Cat("resource ", kLevelNames[level], " directory at ", Hex(offset)); };
    // Only a directory above this one on the way down makes a loop; one
    // reached again through another entry is a shared subtree.
    if (std::find(onPath_.begin(), onPath_.begin() + level, offset) != onPath_.begin() + level)
      return Fail(Cat(where(), ": reached again below itself (the tree loops)"));
    onPath_[level] = offset;
    const auto header = Read(offset, kDirectoryHeaderSize);
    if (!header) return Fail(Cat(where(), ": outside the resource section"));
    ByteReader h(*header);
    const std::uint32_t count = std::uint32_t{*h.u16(12)} + *h.u16(14);
    // Counted before they are read, their own bytes with them.
    const auto entriesAt = Locate(offset + kDirectoryHeaderSize, count * kEntrySize);
    if (!entriesAt) return Fail(Cat(where(), ": its ", count, " entries run out of the resource section"));
    entriesRead_ += count;
    if (entriesRead_ > treeBytes_ / kEntrySize)
      return Fail(Cat(where(), ": the tree reaches more entries than its ", treeBytes_, " bytes hold apart (",
                      treeBytes_ / kEntrySize, ")"));
    const auto entries = source_.Bytes(*entriesAt, count * kEntrySize);
    if (!entries) return Fail(Cat(where(), ": its ", count, " entries cannot be read"));
    ByteReader e(*entries);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t nameField = *e.u32(i * kEntrySize);
      const std::uint32_t target = *e.u32(i * kEntrySize + 4);
      const auto entryWhere = [&] { return Cat(where(), ", entry ", i); };
      ResourceId id(0);
      if (nameField & kHighBit) {
        if (level == 2) return Fail(Cat(entryWhere(), ": a language must be an integer id"));
        auto name = ReadName(nameField & ~kHighBit, entryWhere);
        if (!name) return Fail(name.error());
        id = std::move(*name);
      } else {
        if (nameField > 0xFFFF) return Fail(Cat(entryWhere(), ": id ", nameField, " does not fit in 16 bits"));
        id = ResourceId(static_cast<std::uint16_t>(nameField));
      }
      const bool isDirectory = (target & kHighBit) != 0;
      if (level < 2) {
        if (!isDirectory) return Fail(Cat(entryWhere(), ": data where a ", kLevelNames[level + 1], " directory belongs"));
        if (level == 0)
          path.type = id;
        else
          path.name = id;
        if (auto st = WalkDirectory(target & ~kHighBit, level + 1, path); !st) return st;
      } else {
        if (isDirectory) return Fail(Cat(entryWhere(), ": a fourth level (the tree has three)"));
        path.language = id.Id();
        if (auto st = ReadDataEntry(target, entryWhere, path); !st) return st;
      }
    }
    return Ok();
  }

  template <typename Where> Status ReadDataEntry(std::uint32_t offset, const Where &where, ResourceLeaf &path) {
    const auto entry = Read(offset, kDataEntrySize);
    if (!entry) return Fail(Cat(where(), ": data entry at ", Hex(offset), " is outside the resource section"));
    ByteReader d(*entry);
    ResourceLeaf leaf = path;
    leaf.dataRva = *d.u32(0);
    leaf.size = *d.u32(4);
    leaf.codePage = *d.u32(8);
    leaf.backed = headers_.RvaToOffset(leaf.dataRva, leaf.size).has_value();
    leaves_.push_back(std::move(leaf));
    return Ok();
  }

  const ByteSource &source_;
  const PeHeaders &headers_;
  std::uint32_t base_;
  std::array<std::uint32_t, 3> onPath_{};
  std::vector<std::size_t> regions_; // sections (or the headers) the tree was read from
  std::uint64_t treeBytes_ = 0;
  std::uint64_t entriesRead_ = 0;
  std::map<std::uint32_t, ResourceId> names_;
  std::size_t nameUnits_ = 0;
  std::vector<ResourceLeaf> leaves_;
};

} // namespace

Result<std::vector<ResourceLeaf>> ParseResourceTree(const ByteSource &source, const PeHeaders &headers) {
  const DataDirectory dir = headers.Directory(kDirResource);
  if (dir.rva == 0 && dir.size == 0) return std::vector<ResourceLeaf>{};
  if (!headers.RvaToOffset(dir.rva, kDirectoryHeaderSize))
    return Fail(Cat("resource directory at RVA ", Hex(dir.rva), " is not in the file's sections"));
  TreeWalker walker(source, headers, dir.rva);
  if (auto st = walker.Walk(); !st) return Fail(st.error());
  return walker.TakeLeaves();
}

Result<std::vector<std::uint8_t>> ReadLeafData(const ByteSource &source, const PeHeaders &headers,
                                               const ResourceLeaf &leaf) {
  const auto where = [&] { return Cat("resource ", leaf.type.ToString(), "/", leaf.name.ToString(), "/", leaf.language); };
  // An empty leaf has no bytes to find: the tree builder puts it at its
  // section's very end, an address no section contains.
  if (leaf.size == 0) return std::vector<std::uint8_t>{};
  if (const auto offset = headers.RvaToOffset(leaf.dataRva, leaf.size)) {
    auto bytes = source.Bytes(*offset, leaf.size);
    if (!bytes) return Fail(Cat(where(), ": cannot read its ", leaf.size, " bytes"));
    return std::move(*bytes);
  }
  const auto index = headers.SectionOfRva(leaf.dataRva);
  if (!index) return Fail(Cat(where(), ": data at RVA ", Hex(leaf.dataRva), " is in no section"));
  const Section &s = headers.sections[*index];
  const std::uint32_t within = leaf.dataRva - s.virtualAddress;
  if (leaf.size > s.VirtualExtent() - within)
    return Fail(Cat(where(), ": data at RVA ", Hex(leaf.dataRva), " runs past its section"));
  if (leaf.size > kMaxUnbackedRead) return Fail(Cat(where(), ": ", leaf.size, " bytes of unwritten data is too large"));
  std::vector<std::uint8_t> bytes(leaf.size, 0);
  const std::uint32_t backed = s.BackedSize();
  if (within < backed) {
    const std::uint32_t n = std::min(leaf.size, backed - within);
    if (!source.ReadAt(std::uint64_t{s.pointerToRawData} + within, std::span(bytes).first(n)))
      return Fail(Cat(where(), ": cannot read its bytes"));
  }
  return bytes;
}

const std::shared_ptr<const std::vector<std::uint8_t>> &Blob::Held() const {
  if (!held_) {
    auto bytes = source_->Bytes(fileOffset_, size_);
    held_ = std::make_shared<const std::vector<std::uint8_t>>(bytes ? std::move(*bytes) : std::vector<std::uint8_t>{});
  }
  return held_;
}

namespace {

// Large data left in the file keeps its offset within a file-system block:
// copying it is then whole blocks, which a file system with shared extents
// shares instead of copying. The section's own 8-byte alignment is kept.
constexpr std::uint64_t kBlock = 4096;
constexpr std::uint64_t kLargeBlob = 64 * 1024;

std::uint64_t PlaceBlob(std::uint64_t at, const Blob &blob, std::optional<std::uint64_t> sectionOffset) {
  at = (at + 7) / 8 * 8;
  if (!sectionOffset || !blob.InFile() || blob.size() < kLargeBlob || blob.FileOffset() % 8 != 0 || *sectionOffset % 8 != 0)
    return at;
  const std::uint64_t want = blob.FileOffset() % kBlock, have = (*sectionOffset + at) % kBlock;
  return at + (want + kBlock - have) % kBlock;
}

Result<NewFile> LaySection(std::span<const ResourceItem> input, std::uint32_t sectionRva,
                           std::optional<std::uint64_t> sectionOffset, bool leaveInFile) {
  std::vector<const ResourceItem *> items;
  for (const auto &item : input)
    items.push_back(&item);
  std::sort(items.begin(), items.end(), [](const ResourceItem *a, const ResourceItem *b) {
    if (auto c = a->type <=> b->type; c != 0) return c < 0;
    if (auto c = a->name <=> b->name; c != 0) return c < 0;
    return a->language < b->language;
  });
  for (std::size_t i = 1; i < items.size(); ++i) {
    if (items[i - 1]->type == items[i]->type && items[i - 1]->name == items[i]->name &&
        items[i - 1]->language == items[i]->language)
      return Fail(Cat("resource ", items[i]->type.ToString(), "/", items[i]->name.ToString(), "/", items[i]->language,
                      " is stored twice"));
  }

  // Group into types, and names within types: [begin, end) ranges of items.
  struct Range {
    std::size_t begin, end;
  };
  std::vector<Range> typeRanges, nameRanges;
  std::vector<std::vector<std::size_t>> namesOfType; // indexes into nameRanges
  for (std::size_t i = 0; i < items.size(); ++i) {
    const bool newType = i == 0 || !(items[i]->type == items[i - 1]->type);
    if (newType) {
      typeRanges.push_back({i, i});
      namesOfType.emplace_back();
    }
    if (newType || !(items[i]->name == items[i - 1]->name)) {
      namesOfType.back().push_back(nameRanges.size());
      nameRanges.push_back({i, i});
    }
    typeRanges.back().end = i + 1;
    nameRanges.back().end = i + 1;
  }

  // Sizes and offsets: root, name directories, language directories, data
  // entries, names, then the data.
  std::uint64_t at = kDirectoryHeaderSize + kEntrySize * typeRanges.size();
  std::vector<std::uint64_t> nameDirAt(typeRanges.size()), langDirAt(nameRanges.size()), dataEntryAt(items.size());
  for (std::size_t t = 0; t < typeRanges.size(); ++t) {
    nameDirAt[t] = at;
    at += kDirectoryHeaderSize + kEntrySize * namesOfType[t].size();
  }
  for (std::size_t n = 0; n < nameRanges.size(); ++n) {
    langDirAt[n] = at;
    at += kDirectoryHeaderSize + kEntrySize * (nameRanges[n].end - nameRanges[n].begin);
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    dataEntryAt[i] = at;
    at += kDataEntrySize;
  }
  // Each distinct name once, however many entries carry it: one long name
  // under many types must not make the section grow with their number.
  // Copies of an id share its text, so most are found by address.
  std::map<std::u16string_view, std::uint64_t> names;
  std::map<const std::u16string *, std::uint64_t> namesByAddress;
  const auto placeName = [&](const ResourceId &id) -> std::uint64_t {
    if (!id.IsNamed()) return 0;
    if (const auto known = namesByAddress.find(&id.Name()); known != namesByAddress.end()) return known->second;
    const auto [place, added] = names.try_emplace(id.Name(), at);
    if (added) at += 2 + 2 * std::uint64_t{id.Name().size()};
    namesByAddress.emplace(&id.Name(), place->second);
    return place->second;
  };
  std::vector<std::uint64_t> typeNameAt(typeRanges.size()), nameNameAt(nameRanges.size());
  for (std::size_t t = 0; t < typeRanges.size(); ++t)
    typeNameAt[t] = placeName(items[typeRanges[t].begin]->type);
  for (std::size_t n = 0; n < nameRanges.size(); ++n)
    nameNameAt[n] = placeName(items[nameRanges[n].begin]->name);
  // Each blob once, however many leaves share it, in the order placed.
  const std::uint64_t headSize = at;
  std::map<const Blob *, std::uint64_t> blobAt;
  std::vector<const Blob *> blobs;
  std::vector<std::uint64_t> dataAt(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    const LeafBytes &data = items[i]->data;
    if (items[i]->keepAddress || !data.GetBlob()) continue;
    auto [blob, added] = blobAt.emplace(data.GetBlob().get(), 0);
    if (added) {
      at = PlaceBlob(at, *data.GetBlob(), leaveInFile ? sectionOffset : std::nullopt);
      blob->second = at;
      blobs.push_back(data.GetBlob().get());
      at += data.GetBlob()->size();
    }
    dataAt[i] = blob->second + data.Offset();
  }
  at = (at + 7) / 8 * 8;
  if (at > 0x7FFFFFFFu || std::uint64_t{sectionRva} + at > 0xFFFFFFFFu)
    return Fail(Cat("the resources need ", at, " bytes, too many for one section"));

  const std::uint64_t sectionSize = at;
  std::vector<std::uint8_t> out(static_cast<std::size_t>(headSize), 0);
  const auto putDirectory = [&](std::uint64_t dirAt, std::size_t named, std::size_t total) {
    PutU16(out, dirAt + 12, static_cast<std::uint16_t>(named));
    PutU16(out, dirAt + 14, static_cast<std::uint16_t>(total - named));
  };
  for (const auto &[name, nameAt] : names) {
    PutU16(out, nameAt, static_cast<std::uint16_t>(name.size()));
    for (std::size_t k = 0; k < name.size(); ++k)
      PutU16(out, nameAt + 2 + 2 * k, name[k]);
  }
  const auto putEntry = [&](std::uint64_t entryAt, const ResourceId &id, std::uint64_t nameAt, std::uint32_t target) {
    PutU32(out, entryAt, id.IsNamed() ? kHighBit | static_cast<std::uint32_t>(nameAt) : id.Id());
    PutU32(out, entryAt + 4, target);
  };
  const auto countNamed = [](auto begin, auto end, auto idOf) {
    return static_cast<std::size_t>(std::count_if(begin, end, [&](auto x) { return idOf(x).IsNamed(); }));
  };

  if (typeRanges.size() > 0xFFFF) return Fail("more than 65535 resource types for one directory");
  for (const Range &languages : nameRanges) {
    if (languages.end - languages.begin > 0xFFFF) {
      const ResourceItem &first = *items[languages.begin];
      return Fail(Cat("resource ", first.type.ToString(), "/", first.name.ToString(), ": ",
                      languages.end - languages.begin, " languages, more than the 65535 a directory holds"));
    }
  }
  putDirectory(0,
               countNamed(typeRanges.begin(), typeRanges.end(),
                          [&](const Range &r) -> const ResourceId & { return items[r.begin]->type; }),
               typeRanges.size());
  for (std::size_t t = 0; t < typeRanges.size(); ++t) {
    const ResourceId &type = items[typeRanges[t].begin]->type;
    putEntry(kDirectoryHeaderSize + kEntrySize * t, type, typeNameAt[t],
             kHighBit | static_cast<std::uint32_t>(nameDirAt[t]));
    const auto &names = namesOfType[t];
    if (names.size() > 0xFFFF)
      return Fail(Cat("resource type ", type.ToString(), ": ", names.size(), " names, more than the 65535 a directory holds"));
    putDirectory(nameDirAt[t],
                 countNamed(names.begin(), names.end(),
                            [&](std::size_t n) -> const ResourceId & { return items[nameRanges[n].begin]->name; }),
                 names.size());
    for (std::size_t k = 0; k < names.size(); ++k) {
      const std::size_t n = names[k];
      const ResourceId &name = items[nameRanges[n].begin]->name;
      putEntry(nameDirAt[t] + kDirectoryHeaderSize + kEntrySize * k, name, nameNameAt[n],
               kHighBit | static_cast<std::uint32_t>(langDirAt[n]));
      const Range languages = nameRanges[n];
      putDirectory(langDirAt[n], 0, languages.end - languages.begin);
      for (std::size_t i = languages.begin; i < languages.end; ++i) {
        putEntry(langDirAt[n] + kDirectoryHeaderSize + kEntrySize * (i - languages.begin),
                 ResourceId(items[i]->language), 0, static_cast<std::uint32_t>(dataEntryAt[i]));
      }
    }
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ResourceItem &item = *items[i];
    if (item.keepAddress) {
      PutU32(out, dataEntryAt[i], item.keptRva);
      PutU32(out, dataEntryAt[i] + 4, item.keptSize);
    } else {
      PutU32(out, dataEntryAt[i], sectionRva + static_cast<std::uint32_t>(dataAt[i]));
      PutU32(out, dataEntryAt[i] + 4, static_cast<std::uint32_t>(item.data.size()));
    }
    PutU32(out, dataEntryAt[i] + 8, item.codePage);
  }
  NewFile section;
  section.Append(std::move(out));
  for (const Blob *blob : blobs) {
    section.Zeros(blobAt[blob] - section.Size());
    if (blob->InFile() && leaveInFile) {
      section.Copy(blob->FileOffset(), blob->size());
    } else {
      const auto &held = blob->Held();
      if (held->size() != blob->size()) return Fail(Cat("cannot read ", blob->size(), " bytes of resource data"));
      section.Append(held, 0, held->size());
    }
  }
  section.Zeros(sectionSize - section.Size());
  return section;
}

} // namespace

Result<NewFile> LayResourceSection(std::span<const ResourceItem> items, std::uint32_t sectionRva,
                                   std::optional<std::uint64_t> sectionOffset) {
  return LaySection(items, sectionRva, sectionOffset, true);
}

Result<std::vector<std::uint8_t>> BuildResourceSection(std::span<const ResourceItem> items, std::uint32_t sectionRva) {
  auto section = LaySection(items, sectionRva, std::nullopt, false);
  if (!section) return Fail(section.error());
  return section->Materialize(MemorySource({}));
}

} // namespace qm::pe
