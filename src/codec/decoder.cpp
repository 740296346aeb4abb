#include "codec/decoder.h"

#include <string_view>

#include "base/byte_reader.h"
#include "codec/block_layout.h"

namespace qm {

namespace {

// True when the units at off spell text; a key that would lie beyond the data
// does not match.
bool UnitsEqual(const ByteReader &data, std::size_t off, std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::optional<std::uint16_t> unit = data.u16(off + 2 * i);
    if (!unit || *unit != text[i]) return false;
  }
  return true;
}

// The units from off up to the first zero unit or the limit.
struct Scan {
  std::u16string text;
  std::size_t end = 0;     // offset just past the terminator (or the limit)
  bool terminated = false; // false when the limit came first
};
std::optional<Scan> ScanText(const ByteReader &data, std::size_t off, std::size_t limit) {
  Scan scan;
  std::size_t pos = off;
  while (pos + 2 <= limit) {
    std::optional<std::uint16_t> unit = data.u16(pos);
    if (!unit) return std::nullopt;
    pos += 2;
    if (*unit == 0) {
      scan.end = pos;
      scan.terminated = true;
      return scan;
    }
    scan.text.push_back(static_cast<char16_t>(*unit));
  }
  scan.end = pos;
  return scan;
}

std::size_t AlignUp4(std::size_t off) { return (off + 3) & ~std::size_t{3}; }

// The String entries of the first StringTable of the StringFileInfo at s.
// Reading ends at an entry with wLength 0 or where a key runs to the end of
// the data; the rows read until then are kept.
std::vector<DecodedString> ReadStrings(const ByteReader &data, std::size_t s) {
  std::vector<DecodedString> strings;
  const std::uint16_t fileInfoLength = data.u16(s).value_or(0);
  if (fileInfoLength <= layout::kStringsFromStringFileInfo) return strings;
  const std::size_t bound = fileInfoLength - layout::kStringsFromStringFileInfo;
  std::size_t running = 0;
  while (running < bound) {
    const std::size_t e = s + layout::kStringsFromStringFileInfo + running;
    std::optional<std::uint16_t> length = data.u16(e);
    std::optional<std::uint16_t> valueLength = data.u16(e + 2);
    if (!length || !valueLength || *length == 0) break;
    std::optional<Scan> key = ScanText(data, e + 6, data.size());
    if (!key || !key->terminated) break;
    DecodedString row{std::move(key->text), {}};
    if (*valueLength >= 2) {
      // The value starts at the first 4-byte boundary after the key's
      // terminator, where writers of this layout put it, and ends at its
      // terminator or at the end of its entry, whichever comes first.
      const std::size_t valueEnd = std::min(e + *length, data.size());
      const std::size_t valueStart = AlignUp4(key->end);
      if (valueStart < valueEnd) {
        std::optional<Scan> value = ScanText(data, valueStart, valueEnd);
        if (value) row.Value = std::move(value->text);
      }
    }
    strings.push_back(std::move(row));
    running += *length + ((*length & 3) != 0 ? 2 : 0);
  }
  return strings;
}

} // namespace

DecodedVersionBlock DecodeVersionBlock(std::span<const std::uint8_t> bytes) {
  const ByteReader data(bytes);
  DecodedVersionBlock result;
  if (!UnitsEqual(data, layout::kKeyOffset, layout::kRootKey)) return result;
  // Everything up to the subtype must be there; a block cut shorter is taken
  // as no block at all.
  if (!data.has(0, layout::kFileSubTypeOffset + 4)) return result;
  result.SignatureMatched = true;

  static constexpr VersionPart kOrder[8] = {VersionPart::FileMinor,   VersionPart::FileMajor,  VersionPart::FileBuild,
                                            VersionPart::FileRelease, VersionPart::ProdMinor,  VersionPart::ProdMajor,
                                            VersionPart::ProdBuild,   VersionPart::ProdRelease};
  for (std::size_t i = 0; i < 8; ++i) {
    std::uint16_t word = *data.u16(layout::kFileVersionOffset + 2 * i);
    result.Words[i] = {kOrder[i], static_cast<std::int16_t>(word)};
  }
  result.Flags = *data.u32(layout::kFlagsOffset);
  result.FileOs = *data.u32(layout::kFileOsOffset);
  result.FileType = *data.u32(layout::kFileTypeOffset);
  result.FileSubType = *data.u32(layout::kFileSubTypeOffset);

  std::optional<std::uint16_t> firstChildLength = data.u16(layout::kFirstChildOffset);
  if (!firstChildLength) return result;
  const std::size_t l = *firstChildLength;
  const bool varFirst = l == layout::kVarFileInfoSize;
  const std::size_t v = varFirst ? layout::kFirstChildOffset : layout::kFirstChildOffset + l + (l & 3);
  const std::u16string_view varKey = layout::kVarFileInfoKey;
  result.VarFileInfoFound = UnitsEqual(data, v + layout::kKeyOffset, varKey);
  if (result.VarFileInfoFound && UnitsEqual(data, v + layout::kVarKeyOffset, layout::kTranslationKey)) {
    std::optional<std::uint16_t> language = data.u16(v + layout::kTranslationValueOffset);
    std::optional<std::uint16_t> codePage = data.u16(v + layout::kTranslationValueOffset + 2);
    if (language && codePage) {
      result.TranslationFound = true;
      result.Language = *language;
      result.CodePage = *codePage;
    }
  }

  std::size_t s = v;
  if (result.VarFileInfoFound)
    s = varFirst ? layout::kFirstChildOffset + layout::kVarFileInfoSize : layout::kFirstChildOffset;
  // Only the first eleven characters are compared.
  result.StringFileInfoFound = UnitsEqual(data, s + layout::kKeyOffset, layout::kStringFileInfoKey.substr(0, 11));
  if (result.StringFileInfoFound) result.Strings = ReadStrings(data, s);
  return result;
}

} // namespace qm
