#include "codec/version_info_writer.h"

#include <string>
#include <string_view>

#include "base/shown_text.h"
#include "codec/block_layout.h"
#include "codec/le_writer.h"
#include "codec/text_codec.h"

namespace qm {
namespace {

constexpr std::uint16_t kBinaryType = 0;
constexpr std::uint16_t kTextType = 1;

// The tree's nodes over the little-endian writer: a node opens at the next
// multiple of four and its length is patched in when it closes.
struct OwnedBytes {
  std::vector<std::uint8_t> owned;
};

class BlockWriter : private OwnedBytes, public LeWriter {
public:
  BlockWriter() : LeWriter(owned) {} // OwnedBytes, a base listed first, is built first

  std::size_t Open(std::u16string_view key, std::uint16_t valueLength, std::uint16_t type) {
    Align();
    const std::size_t start = size();
    U16(0);
    U16(valueLength);
    U16(type);
    Text(key);
    U16(0);
    Align();
    return start;
  }

  Status Close(std::size_t start, const std::string &path) {
    const std::size_t length = size() - start;
    if (length > layout::kMaxLength) {
      return Fail(ErrorKind::Invalid, path + ": " + std::to_string(length) +
                                          " bytes; a node of a version block must stay below 65536 bytes");
    }
    PatchU16(start, static_cast<std::uint16_t>(length));
    return Ok();
  }

  std::vector<std::uint8_t> Take() { return std::move(owned); }
};

Status CheckText(std::u16string_view text, const std::string &path) {
  if (text.find(u'\0') != std::u16string_view::npos)
    return Fail(ErrorKind::Invalid, path + ": a text may not hold a NUL character");
  return Ok();
}

void WriteFixed(BlockWriter &w, const FixedFileInfo &f) {
  w.U32(layout::kSignature);
  w.U32(f.StrucVersion);
  for (std::uint16_t word :
       {f.FileMinor, f.FileMajor, f.FileBuild, f.FileRelease, f.ProdMinor, f.ProdMajor, f.ProdBuild, f.ProdRelease}) {
    w.U16(word);
  }
  for (std::uint32_t dword : {f.FlagsMask, f.Flags, f.FileOs, f.FileType, f.FileSubType}) {
    w.U32(dword);
  }
  w.U32(static_cast<std::uint32_t>(f.FileDate >> 32));
  w.U32(static_cast<std::uint32_t>(f.FileDate & 0xFFFFFFFFu));
}

Status WriteStringFileInfo(BlockWriter &w, const std::vector<StringTable> &tables) {
  const std::string infoPath = Utf16ToUtf8(layout::kStringFileInfoKey);
  const std::size_t info = w.Open(layout::kStringFileInfoKey, 0, kTextType);
  for (const StringTable &table : tables) {
    // Paths name nodes in messages: keys shown escaped and short.
    const std::string tablePath = infoPath + "/" + Shown(Utf16ToUtf8(table.Key), kShortQuotedLimit);
    QM_RETURN_IF_ERROR(CheckText(table.Key, tablePath));
    const std::size_t tableStart = w.Open(table.Key, 0, kTextType);
    for (const DecodedString &entry : table.Strings) {
      const std::string entryPath = tablePath + "/" + Shown(Utf16ToUtf8(entry.Key), kShortQuotedLimit);
      QM_RETURN_IF_ERROR(CheckText(entry.Key, entryPath));
      QM_RETURN_IF_ERROR(CheckText(entry.Value, entryPath));
      // A value too long for its 16-bit unit count makes the entry too long
      // too, which Close refuses.
      const std::size_t start = w.Open(entry.Key, static_cast<std::uint16_t>(entry.Value.size() + 1), kTextType);
      w.Text(entry.Value);
      w.U16(0);
      QM_RETURN_IF_ERROR(w.Close(start, entryPath));
    }
    QM_RETURN_IF_ERROR(w.Close(tableStart, tablePath));
  }
  return w.Close(info, infoPath);
}

Status WriteVarFileInfo(BlockWriter &w, const std::vector<Translation> &translations) {
  const std::string infoPath = Utf16ToUtf8(layout::kVarFileInfoKey);
  const std::string varPath = infoPath + "/" + Utf16ToUtf8(layout::kTranslationKey);
  if (translations.size() * 4 > layout::kMaxLength)
    return Fail(ErrorKind::Invalid, varPath + ": too many translations");
  const std::size_t info = w.Open(layout::kVarFileInfoKey, 0, kTextType);
  const std::size_t var =
      w.Open(layout::kTranslationKey, static_cast<std::uint16_t>(translations.size() * 4), kBinaryType);
  for (const Translation &t : translations) {
    w.U16(t.Language);
    w.U16(t.CodePage);
  }
  QM_RETURN_IF_ERROR(w.Close(var, varPath));
  return w.Close(info, infoPath);
}

} // namespace

Result<std::vector<std::uint8_t>> EncodeVersionInfo(const VersionInfo &info) {
  BlockWriter w;
  const std::size_t root = w.Open(layout::kRootKey, info.HasFixedPart ? layout::kFixedPartSize : 0, kBinaryType);
  if (info.HasFixedPart) WriteFixed(w, info.Fixed);
  if (!info.Tables.empty()) QM_RETURN_IF_ERROR(WriteStringFileInfo(w, info.Tables));
  if (!info.Translations.empty()) QM_RETURN_IF_ERROR(WriteVarFileInfo(w, info.Translations));
  QM_RETURN_IF_ERROR(w.Close(root, "version block"));
  return w.Take();
}

} // namespace qm
