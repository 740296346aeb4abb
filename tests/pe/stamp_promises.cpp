#include "stamp_promises.h"

#include <algorithm>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

#include "pe/byte_source.h"
#include "pe/checksum.h"
#include "pe/nsis_installer.h"
#include "pe/pe_image.h"
#include "pe/resource_tree.h"
#include "pe/resource_update.h"
#include "pe/text.h"
#include "pe/version_reader.h"

namespace qm::pe {
namespace {

using Key = std::tuple<ResourceId, ResourceId, std::uint16_t>;
struct Leaf {
  std::uint32_t codePage = 0;
  std::optional<std::vector<std::uint8_t>> bytes; // none when unreadable
};

std::optional<std::map<Key, Leaf>> Leaves(std::span<const std::uint8_t> image, const PeHeaders &headers) {
  const MemorySource source(image);
  auto leaves = ParseResourceTree(source, headers);
  if (!leaves) return std::nullopt;
  std::map<Key, Leaf> out;
  for (const auto &leaf : *leaves) {
    auto data = ReadLeafData(source, headers, leaf);
    out[{leaf.type, leaf.name, leaf.language}] = {leaf.codePage, data ? std::optional(std::move(*data)) : std::nullopt};
  }
  return out;
}

// The bytes after the image, but a certificate the writer drops.
std::vector<std::uint8_t> Tail(std::span<const std::uint8_t> image, const PeHeaders &headers, bool dropCertificate) {
  const std::uint64_t end = std::min<std::uint64_t>(headers.ImageFileEnd(), image.size());
  std::vector<std::uint8_t> tail(image.begin() + static_cast<std::ptrdiff_t>(end), image.end());
  const DataDirectory cert = headers.Directory(kDirSecurity);
  const std::uint64_t certEnd = std::uint64_t{cert.rva} + cert.size;
  if (dropCertificate && cert.size != 0 && cert.rva >= end && certEnd <= image.size())
    tail.erase(tail.begin() + static_cast<std::ptrdiff_t>(cert.rva - end),
               tail.begin() + static_cast<std::ptrdiff_t>(certEnd - end));
  return tail;
}

// A range in the data after the image, away from a certificate: the
// writer moves it with the tail, so whatever points at it must follow.
bool InTail(std::span<const std::uint8_t> image, const PeHeaders &headers, std::uint64_t at, std::uint64_t size) {
  const DataDirectory cert = headers.Directory(kDirSecurity);
  const std::uint64_t certEnd = std::uint64_t{cert.rva} + cert.size;
  return at >= headers.ImageFileEnd() && size <= image.size() && at <= image.size() - size &&
         (cert.size == 0 || at + size <= cert.rva || at >= certEnd);
}

std::span<const std::uint8_t> Range(std::span<const std::uint8_t> image, std::uint64_t at, std::uint64_t size) {
  if (at > image.size() || size > image.size() - at) return {};
  return image.subspan(static_cast<std::size_t>(at), static_cast<std::size_t>(size));
}

bool Same(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// The COFF symbol table and the debug directory's data, where they lie in
// the tail, read through the stamped module's own pointers.
std::string MovedPointers(std::span<const std::uint8_t> before, const PeHeaders &oldHeaders,
                          std::span<const std::uint8_t> after, const PeHeaders &headers) {
  const std::uint64_t symbols = std::uint64_t{oldHeaders.numberOfSymbols} * 18;
  if (oldHeaders.pointerToSymbolTable != 0 && InTail(before, oldHeaders, oldHeaders.pointerToSymbolTable, symbols) &&
      !Same(Range(before, oldHeaders.pointerToSymbolTable, symbols),
            Range(after, headers.pointerToSymbolTable, symbols)))
    return "the symbol table pointer does not follow the table";
  const DataDirectory oldDebug = oldHeaders.Directory(kDirDebug), debug = headers.Directory(kDirDebug);
  const auto oldAt = oldHeaders.RvaToOffset(oldDebug.rva, oldDebug.size);
  const auto at = headers.RvaToOffset(debug.rva, debug.size);
  // The writer leaves entries that lie among the headers it rewrites.
  const std::uint64_t tableEnd =
      headers.SectionTableOffset() + std::uint64_t{kSectionHeaderSize} * headers.sections.size();
  if (oldDebug.size == 0 || !oldAt || !at || debug.size != oldDebug.size || *at < tableEnd) return "";
  for (std::uint64_t field = 24; field + 4 <= oldDebug.size; field += 28) {
    const auto oldEntry = Range(before, *oldAt + field - 24, 28), entry = Range(after, *at + field - 24, 28);
    if (oldEntry.empty() || entry.empty()) return "";
    const auto u32 = [](std::span<const std::uint8_t> b, std::size_t i) {
      return b[i] | (std::uint32_t{b[i + 1]} << 8) | (std::uint32_t{b[i + 2]} << 16) | (std::uint32_t{b[i + 3]} << 24);
    };
    const std::uint32_t size = u32(oldEntry, 16), oldPointer = u32(oldEntry, 24), pointer = u32(entry, 24);
    if (oldPointer != 0 && InTail(before, oldHeaders, oldPointer, size) &&
        !Same(Range(before, oldPointer, size), Range(after, pointer, size)))
      return "a debug entry's file pointer does not follow its data";
  }
  return "";
}

// Every leaf of `before` that `mayChange` does not name is still there with
// its bytes and code page.
template <typename MayChange>
std::string LeavesKept(const std::map<Key, Leaf> &oldLeaves, const std::map<Key, Leaf> &leaves, MayChange mayChange) {
  // Both maps in key order, walked side by side: a long name is compared
  // once per leaf, not once per step of a search.
  auto now = leaves.begin();
  for (const auto &entry : oldLeaves) {
    const Key &key = entry.first;
    const Leaf &leaf = entry.second;
    if (mayChange(key)) continue;
    while (now != leaves.end() && (mayChange(now->first) || now->first < key))
      ++now;
    if (now != leaves.end() && !(now->first == key)) now = leaves.end();
    const auto name = [&] {
      return Cat("resource ", std::get<0>(key).ToString(), "/", std::get<1>(key).ToString(), "/", std::get<2>(key));
    };
    if (now == leaves.end()) return name() + " is gone";
    if (now->second.codePage != leaf.codePage) return name() + " changed its code page";
    if (leaf.bytes && now->second.bytes != leaf.bytes) return name() + " changed its bytes";
  }
  return "";
}

// What a stamp keeps around the resources: the data after the image, the
// pointers into it, SizeOfImage, a file-mapped layout, the checksum.
// What no new layout rewrites: the DOS header and stub, the COFF and
// optional headers up to the directories but for the fields a layout sets,
// the directories but for those of the resources, the certificates and the
// relocations, and each old section's name and flags.
std::string HeadersKept(std::span<const std::uint8_t> before, const PeHeaders &oldHeaders,
                        std::span<const std::uint8_t> after, const PeHeaders &headers) {
  if (headers.peOffset != oldHeaders.peOffset || headers.pe32Plus != oldHeaders.pe32Plus)
    return "the PE headers moved or changed their kind";
  const std::size_t end = oldHeaders.DirectoryOffset(0);
  if (before.size() < end || after.size() < end) return "a module shorter than its headers";
  std::vector<std::uint8_t> was(before.begin(), before.begin() + end), is(after.begin(), after.begin() + end);
  const std::uint64_t coff = oldHeaders.CoffOffset(), optional = oldHeaders.OptionalOffset();
  for (const auto &[at, size] : {std::pair{coff + Coff::kNumberOfSections, 2}, {coff + Coff::kPointerToSymbolTable, 4},
                                 {optional + Optional::kSizeOfInitializedData, 4}, {optional + Optional::kSizeOfImage, 4},
                                 {optional + Optional::kSizeOfHeaders, 4}, {optional + Optional::kCheckSum, 4}}) {
    std::fill_n(was.begin() + static_cast<std::ptrdiff_t>(at), size, 0);
    std::fill_n(is.begin() + static_cast<std::ptrdiff_t>(at), size, 0);
  }
  const auto differ = std::mismatch(was.begin(), was.end(), is.begin());
  if (differ.first != was.end()) return Cat("header byte ", Hex(differ.first - was.begin()), " changed");
  for (std::size_t i = 0; i < oldHeaders.directories.size(); ++i) {
    const DataDirectory was = oldHeaders.directories[i], is = headers.directories.at(i);
    // Bound imports in the new section header's way give way whole.
    const bool dropped = i == kDirBoundImport && is.rva == 0 && is.size == 0;
    if (i != kDirResource && i != kDirSecurity && i != kDirBaseReloc && !dropped &&
        (is.rva != was.rva || is.size != was.size))
      return Cat("directory ", i, " changed");
  }
  for (std::size_t i = 0; i < oldHeaders.sections.size(); ++i)
    if (headers.sections.at(i).name != oldHeaders.sections[i].name ||
        headers.sections[i].characteristics != oldHeaders.sections[i].characteristics)
      return Cat("section ", i, " changed its name or flags");
  // A new section is the resources': initialised data, readable.
  if (headers.sections.size() > oldHeaders.sections.size() &&
      (headers.sections.back().Name() != ".rsrc" || headers.sections.back().characteristics != 0x40000040u))
    return Cat("the new section is '", headers.sections.back().Name(), "' with flags ",
               Hex(headers.sections.back().characteristics));
  return "";
}

std::string LayoutKept(std::span<const std::uint8_t> before, const PeHeaders &oldHeaders,
                       std::span<const std::uint8_t> after, const PeHeaders &headers) {
  if (auto changed = HeadersKept(before, oldHeaders, after, headers); !changed.empty()) return changed;
  auto tail = Tail(after, headers, false), oldTail = Tail(before, oldHeaders, true);
  // An installer's CRC that was right is made again over the new file: it
  // must be right there, and is the one tail field that may change.
  const MemorySource oldSource(before), source(after);
  const auto oldInstaller = FindNsisHeader(oldSource, oldHeaders);
  const auto oldCrc = oldInstaller ? NsisCrcOf(oldSource, *oldInstaller) : Result<std::uint32_t>(Fail("none"));
  if (oldCrc && oldSource.U32(oldInstaller->CrcAt()) == *oldCrc) {
    const auto installer = FindNsisHeader(source, headers);
    if (!installer) return "the installer's header is no longer found";
    const auto crc = NsisCrcOf(source, *installer);
    if (!crc || source.U32(installer->CrcAt()) != *crc) return "the installer's CRC is no longer right";
    const std::uint64_t oldAt = oldInstaller->CrcAt() - oldHeaders.ImageFileEnd();
    const std::uint64_t at = installer->CrcAt() - headers.ImageFileEnd();
    if (oldAt + 4 <= oldTail.size() && at + 4 <= tail.size()) {
      std::fill_n(oldTail.begin() + static_cast<std::ptrdiff_t>(oldAt), 4, 0);
      std::fill_n(tail.begin() + static_cast<std::ptrdiff_t>(at), 4, 0);
    }
  }
  if (tail != oldTail) return "the data after the image changed";
  if (auto moved = MovedPointers(before, oldHeaders, after, headers); !moved.empty()) return moved;
  // SizeOfInitializedData moves with the raw sizes of the initialised data.
  std::int64_t grown = 0;
  for (const Section &s : headers.sections)
    grown += (s.characteristics & kScnInitializedData) != 0 ? std::int64_t{s.sizeOfRawData} : 0;
  for (const Section &s : oldHeaders.sections)
    grown -= (s.characteristics & kScnInitializedData) != 0 ? std::int64_t{s.sizeOfRawData} : 0;
  const auto initialized = std::clamp<std::int64_t>(oldHeaders.sizeOfInitializedData + grown, 0, 0xFFFFFFFF);
  if (headers.sizeOfInitializedData != initialized)
    return Cat("SizeOfInitializedData ", Hex(headers.sizeOfInitializedData), " is not ", Hex(initialized));
  if (headers.sizeOfImage != headers.ComputedSizeOfImage())
    return Cat("SizeOfImage ", Hex(headers.sizeOfImage), " is not the sections' ", Hex(headers.ComputedSizeOfImage()));
  if (oldHeaders.FileMapped() && !headers.FileMapped())
    return "a section of an image mapped as it lies is stored away from its address";
  if (headers.checkSum != ComputeChecksum(after, headers.CheckSumOffset()))
    return Cat("checksum ", Hex(headers.checkSum), " is not the platform's ",
               Hex(ComputeChecksum(after, headers.CheckSumOffset())));
  return "";
}

// Both modules' headers and resources, or why one does not parse.
struct BothModules {
  PeHeaders oldHeaders, headers;
  std::map<Key, Leaf> oldLeaves, leaves;
};
std::string ParseBoth(std::span<const std::uint8_t> before, std::span<const std::uint8_t> after, BothModules &both) {
  auto oldHeaders = ParseHeaders(MemorySource(before));
  if (!oldHeaders) return "the original does not parse: " + oldHeaders.error();
  auto headers = ParseHeaders(MemorySource(after));
  if (!headers) return "the stamped module does not parse: " + headers.error();
  auto oldLeaves = Leaves(before, *oldHeaders);
  auto leaves = Leaves(after, *headers);
  if (!oldLeaves || !leaves) return "a resource tree does not parse";
  both = {std::move(*oldHeaders), std::move(*headers), std::move(*oldLeaves), std::move(*leaves)};
  return "";
}

} // namespace

std::string BrokenPromise(std::span<const std::uint8_t> before, std::span<const std::uint8_t> after,
                          std::span<const std::uint8_t> block) {
  BothModules both;
  if (auto broken = ParseBoth(before, after, both); !broken.empty()) return broken;
  const PeHeaders *oldHeaders = &both.oldHeaders, *headers = &both.headers;
  const std::map<Key, Leaf> *oldLeaves = &both.oldLeaves, *leaves = &both.leaves;

  const Key version{ResourceId(kTypeVersion), ResourceId(1), 0};
  const auto stored = leaves->find(version);
  if (stored == leaves->end() || !stored->second.bytes ||
      !std::equal(stored->second.bytes->begin(), stored->second.bytes->end(), block.begin(), block.end()) ||
      stored->second.codePage != 0)
    return "16/1/0 does not hold the block";
  if (auto kept = LeavesKept(*oldLeaves, *leaves, [&](const Key &key) { return key == version; }); !kept.empty())
    return kept;
  if (leaves->size() != oldLeaves->size() + (oldLeaves->count(version) ? 0 : 1)) return "resources were added";

  auto found = ReadVersionResource(MemorySource(after), 0);
  if (!found || !found->has_value() || (*found)->language != 0 ||
      !std::equal((*found)->bytes.begin(), (*found)->bytes.end(), block.begin(), block.end()))
    return "the reader does not find the block";

  return LayoutKept(before, *oldHeaders, after, *headers);
}

std::string BrokenEditPromise(std::span<const std::uint8_t> before, std::span<const std::uint8_t> after,
                              const VersionCheck &check) {
  BothModules both;
  if (auto broken = ParseBoth(before, after, both); !broken.empty()) return broken;
  const PeHeaders *oldHeaders = &both.oldHeaders, *headers = &both.headers;
  const std::map<Key, Leaf> *oldLeaves = &both.oldLeaves, *leaves = &both.leaves;

  const auto isVersion = [](const Key &key) { return std::get<0>(key) == ResourceId(kTypeVersion); };
  std::vector<Key> oldVersions, versions;
  for (const auto &entry : *oldLeaves)
    if (isVersion(entry.first)) oldVersions.push_back(entry.first);
  for (const auto &entry : *leaves)
    if (isVersion(entry.first)) versions.push_back(entry.first);
  const bool added = oldVersions.empty() && versions.size() == 1 && std::get<1>(versions[0]) == ResourceId(1);
  if (versions != oldVersions && !added) return "the version resources moved, or one was added beside others";
  for (const Key &key : versions) {
    const auto &leaf = leaves->at(key);
    if (!leaf.bytes)
      return Cat("version resource ", std::get<1>(key).ToString(), "/", Hex(std::get<2>(key)), " cannot be read");
    const auto old = oldLeaves->find(key);
    const std::span<const std::uint8_t> oldBytes = old != oldLeaves->end() && old->second.bytes
                                                       ? std::span<const std::uint8_t>(*old->second.bytes)
                                                       : std::span<const std::uint8_t>();
    if (auto broken = check(oldBytes, *leaf.bytes); !broken.empty())
      return Cat("version resource ", std::get<1>(key).ToString(), "/", Hex(std::get<2>(key)), ": ", broken);
  }
  if (auto kept = LeavesKept(*oldLeaves, *leaves, isVersion); !kept.empty()) return kept;
  if (leaves->size() != oldLeaves->size() + (added ? 1 : 0)) return "resources were added";
  return LayoutKept(before, *oldHeaders, after, *headers);
}

std::vector<std::uint8_t> WrittenAsAFile(const NewFile &composed, std::span<const std::uint8_t> before) {
  struct FileLike final : ContentSink {
    std::span<const std::uint8_t> old;
    std::vector<std::uint8_t> out;
    Status Write(std::span<const std::uint8_t> bytes) override {
      out.insert(out.end(), bytes.begin(), bytes.end());
      return Ok();
    }
    Status CopyHeld(std::uint64_t from, std::uint64_t length) override {
      if (from > old.size() || length > old.size() - from) return Fail("a kept range outside the old module");
      const auto kept = old.subspan(static_cast<std::size_t>(from), static_cast<std::size_t>(length));
      out.insert(out.end(), kept.begin(), kept.end());
      return Ok();
    }
    Status WriteAt(std::uint64_t at, std::span<const std::uint8_t> bytes) override {
      if (at > out.size() || bytes.size() > out.size() - at) return Fail("a patch past the bytes written");
      std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
      return Ok();
    }
  } sink;
  sink.old = before;
  if (!composed.WriteTo(sink)) return {};
  return std::move(sink.out);
}

Result<std::vector<std::uint8_t>> ComposedBytes(const ResourceUpdate &update) {
  QM_UNWRAP_OR_RETURN(composed, update.Compose());
  return composed.Materialize(update.Source());
}

} // namespace qm::pe
