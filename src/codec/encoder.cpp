#include "codec/encoder.h"

#include <cstdio>

#include "base/shown_text.h"
#include "codec/block_layout.h"
#include "codec/field_codes.h"
#include "codec/integer_text.h"
#include "codec/le_writer.h"

namespace qm {

namespace {

// The block's fixed start: header, fixed part, StringFileInfo and StringTable
// headers, all lengths still zero.
std::vector<std::uint8_t> StartBlock(const VersionFields &fields, const Translation &translation) {
  std::vector<std::uint8_t> block(layout::kFirstChildOffset, 0);
  LeWriter w(block);
  w.PatchU16(2, layout::kFixedPartSize);
  for (std::size_t i = 0; i < layout::kRootKey.size(); ++i)
    w.PatchU16(layout::kKeyOffset + 2 * i, layout::kRootKey[i]);
  w.PatchU32(layout::kSignatureOffset, layout::kSignature);
  w.PatchU32(layout::kSignatureOffset + 4, layout::kStrucVersion);
  const std::uint16_t words[8] = {fields.FileMinor, fields.FileMajor, fields.FileBuild, fields.FileRelease,
                                  fields.ProdMinor, fields.ProdMajor, fields.ProdBuild, fields.ProdRelease};
  for (std::size_t i = 0; i < 8; ++i)
    w.PatchU16(layout::kFileVersionOffset + 2 * i, words[i]);
  w.PatchU32(layout::kFlagsOffset, FlagsFromBoxes(fields.Debug, fields.PreRelease, fields.Special, fields.Private));
  w.PatchU32(layout::kFileOsOffset, fields.FileOs);
  w.PatchU32(layout::kFileTypeOffset, fields.FileType);
  w.PatchU32(layout::kFileSubTypeOffset, fields.FileSubType);

  // StringFileInfo: wLength (later), wValueLength 0, wType 1, key, NUL.
  w.U16(0);
  w.U16(0);
  w.U16(1);
  w.Text(layout::kStringFileInfoKey);
  w.U16(0);
  // StringTable: wLength (later), wValueLength 0, wType 0, 8-character key, NUL.
  w.U16(0);
  w.U16(0);
  w.U16(0);
  // The key holds the language text as the list gave it (four hex digits)
  // and the code page in hex. A language text of another length, which only
  // a caller other than the window can pass, is written from its number so
  // the key keeps its eight characters.
  char hex[16];
  if (fields.LanguageText.size() == 4) {
    std::snprintf(hex, sizeof hex, "%.4s%04X", fields.LanguageText.c_str(),
                  static_cast<unsigned>(translation.CodePage));
  } else {
    std::snprintf(hex, sizeof hex, "%04X%04X", static_cast<unsigned>(translation.Language),
                  static_cast<unsigned>(translation.CodePage));
  }
  std::string_view tableKey(hex, 8);
  for (char c : tableKey)
    w.U16(static_cast<unsigned char>(c));
  w.U16(0);
  return block;
}

void AppendVarFileInfo(std::vector<std::uint8_t> &block, const Translation &translation) {
  LeWriter w(block);
  w.U16(static_cast<std::uint16_t>(layout::kVarFileInfoSize));
  w.U16(0);
  w.U16(1);
  w.Text(layout::kVarFileInfoKey);
  w.U16(0);
  w.U16(0); // padding
  w.U16(36);
  w.U16(4);
  w.U16(0);
  w.Text(layout::kTranslationKey);
  w.U16(0);
  w.U16(0); // padding
  w.U16(translation.Language);
  w.U16(translation.CodePage);
}

// The key as a message shows it: the block's text may be in any code page,
// so only ASCII is kept, its controls escaped, and a long key cut short.
std::string Printable(std::u16string_view key) {
  std::string out;
  for (char16_t unit : key.substr(0, kShortQuotedLimit + 1))
    out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  return Shown(out, kShortQuotedLimit);
}

} // namespace

Result<Translation> TranslationFromTexts(std::string_view languageText, std::string_view codePageText) {
  std::string languageNumber = "$";
  languageNumber += languageText;
  QM_UNWRAP_OR_RETURN(language, IntegerFromText(languageNumber));
  QM_UNWRAP_OR_RETURN(codePage, IntegerFromText(codePageText));
  return Translation{static_cast<std::uint16_t>(language), static_cast<std::uint16_t>(codePage)};
}

Status AppendStringEntry(std::vector<std::uint8_t> &block, std::u16string_view key, std::u16string_view value) {
  const std::size_t k = key.size();
  const std::size_t v = value.size();
  const std::size_t body = 2 * k + 2 * v + 4 + (k % 2 == 1 ? 2 : 0) + (v % 2 == 0 ? 2 : 0);
  const std::size_t entry = body + 6;
  // The value's length in units, a 16-bit field too, is always the smaller.
  if (entry > layout::kMaxLength) {
    return Fail(ErrorKind::Invalid, "String entry '" + Printable(key) + "' would take " + std::to_string(entry) +
                                        " bytes; an entry must stay below 65536 bytes");
  }
  block.reserve(block.size() + entry);
  LeWriter w(block);
  w.U16(static_cast<std::uint16_t>(entry));
  w.U16(static_cast<std::uint16_t>(v + 1));
  w.U16(1);
  w.Text(key);
  w.U16(0);
  if (k % 2 == 1) w.U16(0);
  w.Text(value);
  w.U16(0);
  if (v % 2 == 0) w.U16(0);
  return Ok();
}

Result<std::vector<std::uint8_t>> EncodeVersionBlock(const VersionFields &fields,
                                                     std::span<const StringRowUtf16> rows) {
  QM_UNWRAP_OR_RETURN(translation, TranslationFromTexts(fields.LanguageText, fields.CodePageText));
  std::vector<std::uint8_t> block = StartBlock(fields, translation);
  for (const StringRowUtf16 &row : rows) {
    QM_RETURN_IF_ERROR(AppendStringEntry(block, row.Key, row.Value));
    if (block.size() + layout::kVarFileInfoSize > layout::kMaxLength) break;
  }
  const std::size_t total = block.size() + layout::kVarFileInfoSize;
  if (total > layout::kMaxLength) {
    return Fail(ErrorKind::Invalid, "The version block would take at least " + std::to_string(total) +
                                        " bytes; a version block must stay below 65536 bytes");
  }
  const std::size_t s = block.size();
  LeWriter w(block);
  w.PatchU16(layout::kFirstChildOffset, static_cast<std::uint16_t>(s - layout::kFirstChildOffset));
  w.PatchU16(layout::kStringTableOffset, static_cast<std::uint16_t>(s - layout::kStringTableOffset));
  AppendVarFileInfo(block, translation);
  w.PatchU16(0, static_cast<std::uint16_t>(block.size()));
  return block;
}

Result<std::vector<std::uint8_t>> EncodeVersionBlock(const VersionFields &fields, const TextCodec &codec) {
  // The language and code page are converted before any row, so their
  // message wins over anything a row could cause.
  QM_RETURN_IF_ERROR(TranslationFromTexts(fields.LanguageText, fields.CodePageText));
  std::vector<StringRowUtf16> rows;
  rows.reserve(fields.Rows.size());
  for (const StringRow &row : fields.Rows)
    rows.push_back({codec.ToUtf16(row.Key), codec.ToUtf16(row.Value)});
  return EncodeVersionBlock(fields, rows);
}

Status BuildVersionBlock(EncodeTarget target, const BlockSink &sink, const VersionFields &fields,
                         const TextCodec &codec) {
  (void)target; // the bytes do not depend on where they go; the sink does
  QM_UNWRAP_OR_RETURN(block, EncodeVersionBlock(fields, codec));
  return sink(block);
}

} // namespace qm
