#include "codec/encoder.h"

#include <cstdio>

#include "base/byte_reader.h"
#include "base/shown_text.h"
#include "codec/block_layout.h"
#include "codec/field_codes.h"
#include "codec/integer_text.h"

namespace qm {

namespace {

void AppendU16(std::vector<std::uint8_t> &block, std::uint16_t value) {
  block.push_back(static_cast<std::uint8_t>(value & 0xFF));
  block.push_back(static_cast<std::uint8_t>(value >> 8));
}

void AppendText(std::vector<std::uint8_t> &block, std::u16string_view text) {
  for (char16_t unit : text)
    AppendU16(block, unit);
}

// The block's fixed start: header, fixed part, StringFileInfo and StringTable
// headers, all lengths still zero.
std::vector<std::uint8_t> StartBlock(const VersionFields &fields, const Translation &translation) {
  std::vector<std::uint8_t> block(layout::kFirstChildOffset, 0);
  PutU16(block, 2, layout::kFixedPartSize);
  for (std::size_t i = 0; i < layout::kRootKey.size(); ++i)
    PutU16(block, layout::kKeyOffset + 2 * i, layout::kRootKey[i]);
  PutU32(block, layout::kSignatureOffset, layout::kSignature);
  PutU32(block, layout::kSignatureOffset + 4, layout::kStrucVersion);
  const std::uint16_t words[8] = {fields.FileMinor, fields.FileMajor, fields.FileBuild, fields.FileRelease,
                                  fields.ProdMinor, fields.ProdMajor, fields.ProdBuild, fields.ProdRelease};
  for (std::size_t i = 0; i < 8; ++i)
    PutU16(block, layout::kFileVersionOffset + 2 * i, words[i]);
  PutU32(block, layout::kFlagsOffset, FlagsFromBoxes(fields.Debug, fields.PreRelease, fields.Special, fields.Private));
  PutU32(block, layout::kFileOsOffset, fields.FileOs);
  PutU32(block, layout::kFileTypeOffset, fields.FileType);
  PutU32(block, layout::kFileSubTypeOffset, fields.FileSubType);

  // StringFileInfo: wLength (later), wValueLength 0, wType 1, key, NUL.
  AppendU16(block, 0);
  AppendU16(block, 0);
  AppendU16(block, 1);
  AppendText(block, layout::kStringFileInfoKey);
  AppendU16(block, 0);
  // StringTable: wLength (later), wValueLength 0, wType 0, 8-character key, NUL.
  AppendU16(block, 0);
  AppendU16(block, 0);
  AppendU16(block, 0);
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
    AppendU16(block, static_cast<unsigned char>(c));
  AppendU16(block, 0);
  return block;
}

void AppendVarFileInfo(std::vector<std::uint8_t> &block, const Translation &translation) {
  AppendU16(block, static_cast<std::uint16_t>(layout::kVarFileInfoSize));
  AppendU16(block, 0);
  AppendU16(block, 1);
  AppendText(block, layout::kVarFileInfoKey);
  AppendU16(block, 0);
  AppendU16(block, 0); // padding
  AppendU16(block, 36);
  AppendU16(block, 4);
  AppendU16(block, 0);
  AppendText(block, layout::kTranslationKey);
  AppendU16(block, 0);
  AppendU16(block, 0); // padding
  AppendU16(block, translation.Language);
  AppendU16(block, translation.CodePage);
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
  Result<std::int32_t> language = IntegerFromText(languageNumber);
  if (!language) return Fail(language.error());
  Result<std::int32_t> codePage = IntegerFromText(codePageText);
  if (!codePage) return Fail(codePage.error());
  return Translation{static_cast<std::uint16_t>(*language), static_cast<std::uint16_t>(*codePage)};
}

Status AppendStringEntry(std::vector<std::uint8_t> &block, std::u16string_view key, std::u16string_view value) {
  const std::size_t k = key.size();
  const std::size_t v = value.size();
  const std::size_t body = 2 * k + 2 * v + 4 + (k % 2 == 1 ? 2 : 0) + (v % 2 == 0 ? 2 : 0);
  const std::size_t entry = body + 6;
  if (entry > layout::kMaxLength || v + 1 > layout::kMaxLength) {
    return Fail("String entry '" + Printable(key) + "' would take " + std::to_string(entry) +
                " bytes; an entry must stay below 65536 bytes");
  }
  block.reserve(block.size() + entry);
  AppendU16(block, static_cast<std::uint16_t>(entry));
  AppendU16(block, static_cast<std::uint16_t>(v + 1));
  AppendU16(block, 1);
  AppendText(block, key);
  AppendU16(block, 0);
  if (k % 2 == 1) AppendU16(block, 0);
  AppendText(block, value);
  AppendU16(block, 0);
  if (v % 2 == 0) AppendU16(block, 0);
  return Ok();
}

Result<std::vector<std::uint8_t>> EncodeVersionBlock(const VersionFields &fields,
                                                     std::span<const StringRowUtf16> rows) {
  Result<Translation> translation = TranslationFromTexts(fields.LanguageText, fields.CodePageText);
  if (!translation) return Fail(translation.error());
  std::vector<std::uint8_t> block = StartBlock(fields, *translation);
  for (const StringRowUtf16 &row : rows) {
    Status appended = AppendStringEntry(block, row.Key, row.Value);
    if (!appended) return Fail(appended.error());
    if (block.size() + layout::kVarFileInfoSize > layout::kMaxLength) break;
  }
  const std::size_t total = block.size() + layout::kVarFileInfoSize;
  if (total > layout::kMaxLength) {
    return Fail("The version block would take at least " + std::to_string(total) +
                " bytes; a version block must stay below 65536 bytes");
  }
  const std::size_t s = block.size();
  PutU16(block, layout::kFirstChildOffset, static_cast<std::uint16_t>(s - layout::kFirstChildOffset));
  PutU16(block, layout::kStringTableOffset, static_cast<std::uint16_t>(s - layout::kStringTableOffset));
  AppendVarFileInfo(block, *translation);
  PutU16(block, 0, static_cast<std::uint16_t>(block.size()));
  return block;
}

Result<std::vector<std::uint8_t>> EncodeVersionBlock(const VersionFields &fields, const TextCodec &codec) {
  // The language and code page are converted before any row, so their
  // message wins over anything a row could cause.
  Result<Translation> translation = TranslationFromTexts(fields.LanguageText, fields.CodePageText);
  if (!translation) return Fail(translation.error());
  std::vector<StringRowUtf16> rows;
  rows.reserve(fields.Rows.size());
  for (const StringRow &row : fields.Rows)
    rows.push_back({codec.ToUtf16(row.Key), codec.ToUtf16(row.Value)});
  return EncodeVersionBlock(fields, rows);
}

Status StreamBlockSink::Accept(std::span<const std::uint8_t> block) {
  out_.write(reinterpret_cast<const char *>(block.data()), static_cast<std::streamsize>(block.size()));
  out_.flush();
  if (!out_) return Fail("Writing the version block failed");
  return Ok();
}

Status BuildVersionBlock(EncodeTarget target, BlockSink &sink, const VersionFields &fields, const TextCodec &codec) {
  (void)target; // the bytes do not depend on where they go; the sink does
  Result<std::vector<std::uint8_t>> block = EncodeVersionBlock(fields, codec);
  if (!block) return Fail(block.error());
  return sink.Accept(*block);
}

} // namespace qm
