#include "codec/version_info_writer.h"

#include <string>
#include <string_view>

#include "base/byte_reader.h"
#include "base/shown_text.h"
#include "codec/block_layout.h"
#include "codec/text_codec.h"

namespace qm {
namespace {

constexpr std::uint16_t kBinaryType = 0;
constexpr std::uint16_t kTextType = 1;

class BlockWriter {
public:
  // Opens a node at the next multiple of four; Close patches its length.
  std::size_t Open(std::u16string_view key, std::uint16_t valueLength, std::uint16_t type) {
    Align();
    const std::size_t start = bytes_.size();
    U16(0);
    U16(valueLength);
    U16(type);
    Text(key);
    U16(0);
    Align();
    return start;
  }

  Status Close(std::size_t start, const std::string &path) {
    const std::size_t length = bytes_.size() - start;
    if (length > layout::kMaxLength) {
      return Fail(path + ": " + std::to_string(length) +
                  " bytes; a node of a version block must stay below 65536 bytes");
    }
    PutU16(bytes_, start, static_cast<std::uint16_t>(length));
    return Ok();
  }

  void Align() {
    while (bytes_.size() % 4 != 0)
      bytes_.push_back(0);
  }
  void U16(std::uint16_t value) {
    bytes_.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
  }
  void U32(std::uint32_t value) {
    U16(static_cast<std::uint16_t>(value & 0xFFFF));
    U16(static_cast<std::uint16_t>(value >> 16));
  }
  void Text(std::u16string_view text) {
    for (char16_t unit : text)
      U16(unit);
  }

  std::vector<std::uint8_t> Take() { return std::move(bytes_); }

private:
  std::vector<std::uint8_t> bytes_;
};

Status CheckText(std::u16string_view text, const std::string &path) {
  if (text.find(u'\0') != std::u16string_view::npos) return Fail(path + ": a text may not hold a NUL character");
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
    if (Status ok = CheckText(table.Key, tablePath); !ok) return ok;
    const std::size_t tableStart = w.Open(table.Key, 0, kTextType);
    for (const DecodedString &entry : table.Strings) {
      const std::string entryPath = tablePath + "/" + Shown(Utf16ToUtf8(entry.Key), kShortQuotedLimit);
      if (Status ok = CheckText(entry.Key, entryPath); !ok) return ok;
      if (Status ok = CheckText(entry.Value, entryPath); !ok) return ok;
      if (entry.Value.size() + 1 > layout::kMaxLength) {
        return Fail(entryPath + ": a value of " + std::to_string(entry.Value.size()) + " characters is too long");
      }
      const std::size_t start = w.Open(entry.Key, static_cast<std::uint16_t>(entry.Value.size() + 1), kTextType);
      w.Text(entry.Value);
      w.U16(0);
      if (Status ok = w.Close(start, entryPath); !ok) return ok;
    }
    if (Status ok = w.Close(tableStart, tablePath); !ok) return ok;
  }
  return w.Close(info, infoPath);
}

Status WriteVarFileInfo(BlockWriter &w, const std::vector<Translation> &translations) {
  const std::string infoPath = Utf16ToUtf8(layout::kVarFileInfoKey);
  const std::string varPath = infoPath + "/" + Utf16ToUtf8(layout::kTranslationKey);
  if (translations.size() * 4 > layout::kMaxLength) return Fail(varPath + ": too many translations");
  const std::size_t info = w.Open(layout::kVarFileInfoKey, 0, kTextType);
  const std::size_t var =
      w.Open(layout::kTranslationKey, static_cast<std::uint16_t>(translations.size() * 4), kBinaryType);
  for (const Translation &t : translations) {
    w.U16(t.Language);
    w.U16(t.CodePage);
  }
  if (Status ok = w.Close(var, varPath); !ok) return ok;
  return w.Close(info, infoPath);
}

} // namespace

Result<std::vector<std::uint8_t>> EncodeVersionInfo(const VersionInfo &info) {
  BlockWriter w;
  const std::size_t root = w.Open(layout::kRootKey, info.HasFixedPart ? layout::kFixedPartSize : 0, kBinaryType);
  if (info.HasFixedPart) WriteFixed(w, info.Fixed);
  if (!info.Tables.empty()) {
    if (Status ok = WriteStringFileInfo(w, info.Tables); !ok) return Fail(ok.error());
  }
  if (!info.Translations.empty()) {
    if (Status ok = WriteVarFileInfo(w, info.Translations); !ok) return Fail(ok.error());
  }
  if (Status ok = w.Close(root, "version block"); !ok) return Fail(ok.error());
  return w.Take();
}

} // namespace qm
