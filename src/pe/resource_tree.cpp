#include "pe/resource_tree.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>

#include "base/byte_reader.h"
#include "pe/pe_layout.h"
#include "pe/text.h"

namespace qm::pe {
namespace {

// Each distinct name is held once (shared by the leaves below it); a hostile
// tree with many long names must still not exhaust memory.
constexpr std::size_t kMaxNameUnitsTotal = std::size_t{16} << 20;
// The zeros given for data past a section's raw bytes.
constexpr std::uint32_t kMaxUnbackedRead = 64u << 20;

const char *const kLevelNames[] = {"type", "name", "language"};

Error Damaged(std::string why) { return Fail(ErrorKind::Damaged, std::move(why)); }

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
    if (!name) return name.failure();
    return names_.emplace(offset, ResourceId::Named(std::move(*name))).first->second;
  }

  template <typename Where> Result<std::u16string> ReadNameText(std::uint32_t offset, const Where &where) {
    const auto lengthBytes = Read(offset, 2);
    if (!lengthBytes) return Damaged(Cat(where(), ": name at ", Hex(offset), " is outside the resource section"));
    const std::uint16_t length = *ByteReader(*lengthBytes).u16(0);
    // An empty name may end the section: there is no address past it to map.
    if (length == 0) return std::u16string();
    const auto units = Read(offset + 2, std::uint32_t{length} * 2);
    if (!units)
      return Damaged(
          Cat(where(), ": name at ", Hex(offset), " (", length, " characters) runs out of the resource section"));
    nameUnits_ += length;
    if (nameUnits_ > kMaxNameUnitsTotal) return Damaged(Cat(where(), ": the tree's names are too large to hold"));
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
      return Damaged(Cat(where(), ": reached again below itself (the tree loops)"));
    onPath_[level] = offset;
    const auto header = Read(offset, kDirectoryHeaderSize);
    if (!header) return Damaged(Cat(where(), ": outside the resource section"));
    ByteReader h(*header);
    const std::uint32_t count = std::uint32_t{*h.u16(kDirectoryNamedCount)} + *h.u16(kDirectoryIdCount);
    // Counted before they are read, their own bytes with them.
    const auto entriesAt = Locate(offset + kDirectoryHeaderSize, count * kEntrySize);
    if (!entriesAt) return Damaged(Cat(where(), ": its ", count, " entries run out of the resource section"));
    entriesRead_ += count;
    if (entriesRead_ > treeBytes_ / kEntrySize)
      return Damaged(Cat(where(), ": the tree reaches more entries than its ", treeBytes_, " bytes hold apart (",
                         treeBytes_ / kEntrySize, ")"));
    const auto entries = source_.Bytes(*entriesAt, count * kEntrySize);
    if (!entries) return Damaged(Cat(where(), ": its ", count, " entries cannot be read"));
    ByteReader e(*entries);
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t nameField = *e.u32(i * kEntrySize);
      const std::uint32_t target = *e.u32(i * kEntrySize + kEntryTarget);
      const auto entryWhere = [&] { return Cat(where(), ", entry ", i); };
      ResourceId id(0);
      if (nameField & kHighBit) {
        if (level == 2) return Damaged(Cat(entryWhere(), ": a language must be an integer id"));
        auto name = ReadName(nameField & ~kHighBit, entryWhere);
        if (!name) return name.failure();
        id = std::move(*name);
      } else {
        if (nameField > 0xFFFF) return Damaged(Cat(entryWhere(), ": id ", nameField, " does not fit in 16 bits"));
        id = ResourceId(static_cast<std::uint16_t>(nameField));
      }
      const bool isDirectory = (target & kHighBit) != 0;
      if (level < 2) {
        if (!isDirectory)
          return Damaged(Cat(entryWhere(), ": data where a ", kLevelNames[level + 1], " directory belongs"));
        if (level == 0)
          path.type = id;
        else
          path.name = id;
        if (auto st = WalkDirectory(target & ~kHighBit, level + 1, path); !st) return st;
      } else {
        if (isDirectory) return Damaged(Cat(entryWhere(), ": a fourth level (the tree has three)"));
        path.language = id.Id();
        if (auto st = ReadDataEntry(target, entryWhere, path); !st) return st;
      }
    }
    return Ok();
  }

  template <typename Where> Status ReadDataEntry(std::uint32_t offset, const Where &where, ResourceLeaf &path) {
    const auto entry = Read(offset, kDataEntrySize);
    if (!entry) return Damaged(Cat(where(), ": data entry at ", Hex(offset), " is outside the resource section"));
    ByteReader d(*entry);
    ResourceLeaf leaf = path;
    leaf.dataRva = *d.u32(kDataEntryRva);
    leaf.size = *d.u32(kDataEntrySizeField);
    leaf.codePage = *d.u32(kDataEntryCodePage);
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
    return Damaged(Cat("resource directory at RVA ", Hex(dir.rva), " is not in the file's sections"));
  TreeWalker walker(source, headers, dir.rva);
  QM_RETURN_IF_ERROR(walker.Walk());
  return walker.TakeLeaves();
}

Result<std::vector<std::uint8_t>> ReadLeafData(const ByteSource &source, const PeHeaders &headers,
                                               const ResourceLeaf &leaf) {
  const auto where = [&] {
    return Cat("resource ", leaf.type.ToString(), "/", leaf.name.ToString(), "/", leaf.language);
  };
  // An empty leaf has no bytes to find: the tree builder puts it at its
  // section's very end, an address no section contains.
  if (leaf.size == 0) return std::vector<std::uint8_t>{};
  if (const auto offset = headers.RvaToOffset(leaf.dataRva, leaf.size)) {
    auto bytes = source.Bytes(*offset, leaf.size);
    if (!bytes) return Damaged(Cat(where(), ": cannot read its ", leaf.size, " bytes"));
    return std::move(*bytes);
  }
  const auto index = headers.SectionOfRva(leaf.dataRva);
  if (!index) return Damaged(Cat(where(), ": data at RVA ", Hex(leaf.dataRva), " is in no section"));
  const Section &s = headers.sections[*index];
  const std::uint32_t within = leaf.dataRva - s.virtualAddress;
  if (leaf.size > s.VirtualExtent() - within)
    return Damaged(Cat(where(), ": data at RVA ", Hex(leaf.dataRva), " runs past its section"));
  if (leaf.size > kMaxUnbackedRead)
    return Damaged(Cat(where(), ": ", leaf.size, " bytes of unwritten data is too large"));
  std::vector<std::uint8_t> bytes(leaf.size, 0);
  const std::uint32_t backed = s.BackedSize();
  if (within < backed) {
    const std::uint32_t n = std::min(leaf.size, backed - within);
    if (!source.ReadAt(std::uint64_t{s.pointerToRawData} + within, std::span(bytes).first(n)))
      return Damaged(Cat(where(), ": cannot read its bytes"));
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

} // namespace qm::pe
