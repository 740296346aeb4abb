#include "codec/editor_fields.h"

#include "codec/field_codes.h"
#include "codec/integer_text.h"
#include "codec/lists.h"

namespace qm {

Result<VersionFields> CollectVersionFields(const EditorTexts &texts) {
  VersionFields fields;
  fields.FileType = FileTypeFromList(texts.FileTypeIndex, texts.FileTypeText);
  fields.FileSubType = SubTypeFromList(texts.SubTypeIndex, texts.SubTypeText);
  fields.LanguageText = LanguageTextFromItem(texts.LanguageItem);
  fields.CodePageText = CodePageTextFromItem(texts.CodePageItem);
  std::uint16_t *const targets[8] = {&fields.FileMajor, &fields.FileMinor, &fields.FileRelease, &fields.FileBuild,
                                     &fields.ProdMajor, &fields.ProdMinor, &fields.ProdRelease, &fields.ProdBuild};
  for (std::size_t i = 0; i < texts.VersionTexts.size(); ++i) {
    QM_UNWRAP_OR_RETURN(number, IntegerFromText(texts.VersionTexts[i]));
    *targets[i] = static_cast<std::uint16_t>(static_cast<std::uint32_t>(number) & 0xFFFFu);
  }
  fields.Rows = texts.Rows;
  fields.Debug = texts.Debug;
  fields.PreRelease = texts.PreRelease;
  fields.Special = texts.Special;
  fields.Private = texts.Private;
  fields.FileOs = FileOsFromIndex(texts.FileOsIndex);
  return fields;
}

std::string FileVersionRowText(std::string_view major, std::string_view minor, std::string_view release,
                               std::string_view build) {
  std::string text(major);
  for (std::string_view part : {minor, release, build})
    text.append(".").append(part);
  return text;
}

std::optional<std::size_t> FirstRowKeyed(std::span<const StringRow> rows, std::string_view key) {
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (rows[i].Key == key) return i;
  return std::nullopt;
}

} // namespace qm
