#include "pe/appended_data.h"

#include <algorithm>
#include <cstring>

#include "pe/nsis_installer.h"
#include "pe/pe_layout.h"
#include "pe/resource_tree.h"
#include "pe/text.h"

namespace qm::pe {
namespace {

constexpr std::uint16_t kTypeRcData = 10;
// Inno Setup's loader finds its table of offsets in this RCDATA resource,
// or (older versions) through a header at 0x30 of the file.
constexpr std::uint16_t kInnoTableResource = 11111;
constexpr std::uint64_t kInnoHeaderAt = 0x30;
constexpr std::uint32_t kInnoHeaderId = 0x6F6E6E49; // "Inno"
constexpr std::uint64_t kMaxPadding = 512;

struct Magic {
  AppendedKind kind;
  std::string_view bytes;
};

// What each kind's data begins with.
constexpr Magic kMagics[] = {
    {AppendedKind::SevenZipSfx, std::string_view("7z\xBC\xAF\x27\x1C", 6)},
    {AppendedKind::SevenZipSfx, ";!@Install@!UTF-8!"},
    {AppendedKind::Zip, "PK\x03\x04"},
    {AppendedKind::Zip, "PK\x05\x06"},
    {AppendedKind::Rar, std::string_view("Rar!\x1A\x07", 6)},
    {AppendedKind::Cab, std::string_view("MSCF\0\0\0\0", 8)},
    {AppendedKind::InnoSetup, "Inno Setup Setup Data ("},
    {AppendedKind::InnoSetup, "zlb\x1A"},
    {AppendedKind::InnoSetup, "rDlPtS"},
};

bool StartsWith(const ByteSource &file, std::uint64_t at, std::uint64_t end, std::string_view magic) {
  if (end - at < magic.size()) return false;
  const auto bytes = file.Bytes(at, magic.size());
  return bytes && std::memcmp(bytes->data(), magic.data(), magic.size()) == 0;
}

bool AllZeros(const ByteSource &file, std::uint64_t at, std::uint64_t length) {
  const auto bytes = file.Bytes(at, length);
  return bytes && std::all_of(bytes->begin(), bytes->end(), [](std::uint8_t b) { return b == 0; });
}

bool HasSection(const PeHeaders &headers, std::string_view name) {
  return std::any_of(headers.sections.begin(), headers.sections.end(),
                     [&](const Section &s) { return s.Name() == name; });
}

// Inno Setup's loader leaves marks in the program itself, whatever its data
// looks like.
bool HasInnoLoader(const ByteSource &file, const PeHeaders &headers) {
  if (file.U32(kInnoHeaderAt) == kInnoHeaderId) return true;
  const auto leaves = ParseResourceTree(file, headers);
  if (!leaves) return false;
  for (const ResourceLeaf &leaf : *leaves) {
    if (leaf.type.IsNamed() || leaf.type.Id() != kTypeRcData || leaf.name.IsNamed() ||
        leaf.name.Id() != kInnoTableResource)
      continue;
    const auto at = headers.RvaToOffset(leaf.dataRva, 6);
    return at && StartsWith(file, *at, file.Size(), "rDlPtS");
  }
  return false;
}

// Ranges the headers account for: the certificate table, the COFF symbol
// table with its string table, debug data outside the sections.
std::vector<AppendedPart> KnownParts(const ByteSource &file, const PeHeaders &headers, std::uint64_t tail) {
  std::vector<AppendedPart> parts;
  const std::uint64_t size = file.Size();
  const auto add = [&](AppendedKind kind, std::uint64_t at, std::uint64_t length) {
    if (at >= tail && at < size && length != 0) parts.push_back({kind, at, std::min(length, size - at)});
  };
  if (const auto signature = FindSignature(file, headers)) add(signature->kind, signature->offset, signature->size);
  if (headers.pointerToSymbolTable != 0) {
    const std::uint64_t strings = headers.pointerToSymbolTable + kSymbolRecordSize * headers.numberOfSymbols;
    const auto stringsSize = file.U32(strings);
    add(AppendedKind::DebugSymbols, headers.pointerToSymbolTable,
        strings - headers.pointerToSymbolTable + (stringsSize ? std::max<std::uint32_t>(*stringsSize, 4) : 0));
  }
  const DataDirectory debug = headers.Directory(kDirDebug);
  if (const auto at = headers.RvaToOffset(debug.rva, debug.size); at && debug.size != 0) {
    for (std::uint64_t i = 0; i < debug.size / kDebugEntrySize && i < 64; ++i) {
      const auto length = file.U32(*at + i * kDebugEntrySize + DebugField::kSizeOfData);
      const auto pointer = file.U32(*at + i * kDebugEntrySize + DebugField::kPointerToRawData);
      if (length && pointer) add(AppendedKind::DebugSymbols, *pointer, *length);
    }
  }
  std::sort(parts.begin(), parts.end(),
            [](const AppendedPart &a, const AppendedPart &b) { return a.offset < b.offset; });
  return parts;
}

// A stretch no header accounts for, told apart by what it begins with.
void ClassifyGap(const ByteSource &file, const PeHeaders &headers, std::uint64_t from, std::uint64_t to,
                 std::vector<AppendedPart> &out) {
  if (from >= to) return;
  if (HasSection(headers, ".wixburn")) return out.push_back({AppendedKind::WixBurn, from, to - from});
  if (const auto nsis = FindNsisHeader(file, headers); nsis && nsis->at >= from && nsis->at < to) {
    if (nsis->at > from) ClassifyGap(file, headers, from, nsis->at, out);
    const std::uint64_t end = std::min<std::uint64_t>(to, nsis->at + nsis->dataLength);
    out.push_back({AppendedKind::Nsis, nsis->at, end - nsis->at});
    return ClassifyGap(file, headers, end, to, out);
  }
  if (HasInnoLoader(file, headers)) return out.push_back({AppendedKind::InnoSetup, from, to - from});
  for (const Magic &magic : kMagics) {
    if (StartsWith(file, from, to, magic.bytes)) return out.push_back({magic.kind, from, to - from});
  }
  if (to - from < kMaxPadding && AllZeros(file, from, to - from))
    return out.push_back({AppendedKind::Padding, from, to - from});
  out.push_back({AppendedKind::Unknown, from, to - from});
}

} // namespace

std::string_view AppendedKindName(AppendedKind kind) {
  switch (kind) {
  case AppendedKind::Certificate:
    return "certificate";
  case AppendedKind::DebugSymbols:
    return "debug symbols";
  case AppendedKind::Nsis:
    return "NSIS installer";
  case AppendedKind::InnoSetup:
    return "Inno Setup installer";
  case AppendedKind::WixBurn:
    return "WiX Burn bundle";
  case AppendedKind::SevenZipSfx:
    return "7-Zip SFX archive";
  case AppendedKind::Zip:
    return "ZIP archive";
  case AppendedKind::Rar:
    return "RAR archive";
  case AppendedKind::Cab:
    return "CAB archive";
  case AppendedKind::Padding:
    return "padding";
  case AppendedKind::Unknown:
    break;
  }
  return "unknown";
}

std::optional<AppendedPart> FindSignature(const ByteSource &file, const PeHeaders &headers) {
  const DataDirectory certificate = headers.Directory(kDirSecurity);
  // Its address is a file offset.
  if (certificate.size == 0 || !file.Has(certificate.rva, certificate.size)) return std::nullopt;
  return AppendedPart{AppendedKind::Certificate, certificate.rva, certificate.size};
}

std::vector<AppendedPart> ClassifyAppendedData(const ByteSource &file, const PeHeaders &headers) {
  const std::uint64_t tail = headers.ImageFileEnd(), size = file.Size();
  std::vector<AppendedPart> out;
  std::uint64_t at = tail;
  for (const AppendedPart &known : KnownParts(file, headers, tail)) {
    if (known.offset < at) continue; // overlaps one already placed
    ClassifyGap(file, headers, at, known.offset, out);
    out.push_back(known);
    at = known.offset + known.size;
  }
  ClassifyGap(file, headers, at, size, out);
  return out;
}

std::optional<PayloadRisk> PayloadBrokenBy(const ByteSource &old, const PeHeaders &headers, const NewFile &next) {
  for (const AppendedPart &part : ClassifyAppendedData(old, headers)) {
    switch (part.kind) {
    case AppendedKind::InnoSetup:
      return PayloadRisk{part.kind, "its loader checks the sizes and offsets of the file, which the stamp changes"};
    case AppendedKind::WixBurn:
      return PayloadRisk{part.kind, "its engine finds its containers by the file's original layout and size"};
    case AppendedKind::Nsis:
      if (const auto header = FindNsisHeader(old, headers)) {
        if (auto why = NsisUnkeepable(*header, next.Map(header->at, header->dataLength), headers.CheckSumOffset()))
          return PayloadRisk{part.kind, std::move(*why)};
      }
      break;
    default:
      break;
    }
  }
  return std::nullopt;
}

} // namespace qm::pe
