#include "codec/version_lint.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "base/shown_text.h"
#include "codec/code_page_coverage.h"
#include "codec/text_codec.h"
#include "codec/version_edit.h"
#include "codec/version_text.h"

namespace qm {
namespace {

constexpr std::uint32_t kTypeApp = 1;
constexpr std::uint32_t kTypeDll = 2;

// The keys Explorer's details and most inventories show; a table without
// one of them shows a blank there.
constexpr std::array<std::u16string_view, 5> kUsualKeys{u"CompanyName", u"FileDescription", u"FileVersion",
                                                        u"ProductName", u"ProductVersion"};

std::string Hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
  return text;
}

std::string QuotedText(std::u16string_view text) { return Quoted(Utf16ToUtf8(text), kShortQuotedLimit); }
std::string TableName(const StringTable &table) { return "StringTable " + QuotedText(table.Key); }

std::uint32_t Packed(const Translation &translation) {
  return std::uint32_t{translation.Language} << 16 | translation.CodePage;
}

class Linter {
public:
  Linter(const VersionInfo &info, const ModuleFacts &facts) : info_(info), facts_(facts) {}
  std::vector<LintFinding> Run();

private:
  void Add(LintId id, std::string message, const StringTable *table = nullptr, const DecodedString *entry = nullptr) {
    LintFinding finding{id, std::move(message), std::nullopt, std::nullopt};
    if (table) finding.Table = table->Key;
    if (entry) finding.Key = entry->Key;
    findings_.push_back(std::move(finding));
  }
  const DecodedString *First(const StringTable &table, std::u16string_view key) const {
    const auto found = std::find_if(table.Strings.begin(), table.Strings.end(),
                                    [&](const DecodedString &entry) { return SameKey(entry.Key, key); });
    return found == table.Strings.end() ? nullptr : &*found;
  }
  void Links();
  void VersionString(const StringTable &table, std::u16string_view key, const VersionParts &fixed, const char *what);
  void VersionStrings();
  void Languages();
  void UsualKeys();
  void Duplicates();
  void CodePages();
  void FixedPart();

  const VersionInfo &info_;
  const ModuleFacts &facts_;
  std::vector<LintFinding> findings_;
};

// Each side looked up in a set of the other, so that thousands of
// translations against thousands of tables stay cheap.
void Linter::Links() {
  std::set<std::uint32_t> tables, translations;
  for (const StringTable &table : info_.Tables)
    if (const auto named = TranslationOfKey(table.Key)) tables.insert(Packed(*named));
  for (const Translation &translation : info_.Translations)
    translations.insert(Packed(translation));
  for (const Translation &translation : info_.Translations) {
    if (tables.contains(Packed(translation))) continue;
    Add(LintId::TranslationWithoutTable, "the translation " + Hex(translation.Language, 4) + ", code page " +
                                             std::to_string(translation.CodePage) +
                                             " has no StringTable; readers that follow it find no strings");
  }
  for (const StringTable &table : info_.Tables) {
    const auto named = TranslationOfKey(table.Key);
    if (named && translations.contains(Packed(*named))) continue;
    Add(LintId::TableWithoutTranslation,
        TableName(table) + " is named by no translation; readers that follow the translations do not show it", &table);
  }
}

// How many numbers the text writes before its tail: "2.4-rc" writes two.
std::size_t PartsWritten(std::u16string_view text) {
  const std::u16string_view numbers = text.substr(0, text.find_first_of(u"-+ "));
  return static_cast<std::size_t>(std::count(numbers.begin(), numbers.end(), u'.')) + 1;
}

void Linter::VersionString(const StringTable &table, std::u16string_view key, const VersionParts &fixed,
                           const char *what) {
  const DecodedString *entry = First(table, key);
  if (!entry || entry->Value.empty()) return; // missing and empty have findings of their own
  const auto written = VersionFromWrittenText(Utf16ToUtf8(entry->Value));
  const std::string where = QuotedText(entry->Key) + " in " + TableName(table);
  if (!written) {
    Add(LintId::VersionStringInvalid,
        where + " is " + QuotedText(entry->Value) + ", which does not start with a version such as 1.2.3.4", &table,
        entry);
    return;
  }
  const std::size_t count = std::min(PartsWritten(written->Text), fixed.size());
  if (!std::equal(fixed.begin(), fixed.begin() + static_cast<std::ptrdiff_t>(count), written->Parts.begin())) {
    Add(LintId::VersionStringMismatch,
        where + " is " + QuotedText(entry->Value) + " but the fixed " + what + " is " +
            Utf16ToUtf8(qm::VersionString(fixed)),
        &table, entry);
  }
}

void Linter::VersionStrings() {
  if (!info_.HasFixedPart) return;
  const FixedFileInfo &f = info_.Fixed;
  const VersionParts file{f.FileMajor, f.FileMinor, f.FileRelease, f.FileBuild};
  const VersionParts product{f.ProdMajor, f.ProdMinor, f.ProdRelease, f.ProdBuild};
  for (const StringTable &table : info_.Tables) {
    VersionString(table, u"FileVersion", file, "file version");
    VersionString(table, u"ProductVersion", product, "product version");
  }
}

void Linter::Languages() {
  if (facts_.Languages.size() < 2) return;
  std::string listed;
  for (std::uint16_t language : facts_.Languages)
    listed.append(listed.empty() ? "" : ", ").append(Hex(language, 4));
  Add(LintId::SeveralLanguages, "the version resource is stored in " + std::to_string(facts_.Languages.size()) +
                                    " languages (" + listed +
                                    "); readers pick one by the user's language, so what they show depends on it");
}

void Linter::UsualKeys() {
  for (const StringTable &table : info_.Tables) {
    for (std::u16string_view key : kUsualKeys) {
      const DecodedString *entry = First(table, key);
      if (!entry) {
        findings_.push_back(
            {LintId::MissingKey, TableName(table) + " has no " + QuotedText(key), table.Key, std::u16string(key)});
      } else if (entry->Value.empty()) {
        Add(LintId::EmptyValue, QuotedText(entry->Key) + " in " + TableName(table) + " is empty", &table, entry);
      }
    }
  }
}

// A key as SameKey compares it, for a lookup that keeps the work linear in
// a table of thousands of strings.
std::u16string FoldedKey(std::u16string_view key) {
  std::u16string folded(key);
  for (char16_t &c : folded)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return folded;
}

void Linter::Duplicates() {
  for (const StringTable &table : info_.Tables) {
    std::map<std::u16string, const DecodedString *> seen;
    for (const DecodedString &entry : table.Strings) {
      const auto [at, added] = seen.try_emplace(FoldedKey(entry.Key), &entry);
      if (added) continue;
      const DecodedString *first = at->second;
      Add(LintId::DuplicateKey,
          QuotedText(entry.Key) + " in " + TableName(table) + " repeats " + QuotedText(first->Key) +
              "; lookups find only the first",
          &table, &entry);
    }
  }
}

void Linter::CodePages() {
  for (const StringTable &table : info_.Tables) {
    const auto named = TranslationOfKey(table.Key);
    if (!named) continue;
    const std::string page = "code page " + std::to_string(named->CodePage) +
                             (IsKnownCodePage(named->CodePage) ? "" : " (taken as ASCII only)");
    for (const DecodedString &entry : table.Strings) {
      for (std::u16string_view text : {std::u16string_view(entry.Key), std::u16string_view(entry.Value)}) {
        const auto outside = FirstCharacterOutside(named->CodePage, text);
        if (!outside) continue;
        Add(LintId::TextOutsideCodePage,
            QuotedText(entry.Key) + " in " + TableName(table) + " holds U+" + Hex(*outside, 4).substr(2) + ", which " +
                page + " cannot hold",
            &table, &entry);
        break;
      }
    }
  }
}

void Linter::FixedPart() {
  if (!info_.HasFixedPart) return;
  const FixedFileInfo &f = info_.Fixed;
  if ((f.Flags & ~f.FlagsMask) != 0) {
    Add(LintId::FlagsOutsideMask, "the file flags " + Hex(f.Flags, 8) + " set bits outside the flags mask " +
                                      Hex(f.FlagsMask, 8) + "; readers ignore " + Hex(f.Flags & ~f.FlagsMask, 8));
  }
  if (facts_.IsLibrary == false && f.FileType == kTypeDll) {
    Add(LintId::FileTypeMismatch, "the file type is DLL but the module is a program (no DLL characteristic)");
  } else if (facts_.IsLibrary == true && f.FileType == kTypeApp) {
    Add(LintId::FileTypeMismatch, "the file type is APP but the module is a library (DLL characteristic)");
  }
}

std::vector<LintFinding> Linter::Run() {
  Links();
  VersionStrings();
  Languages();
  UsualKeys();
  Duplicates();
  CodePages();
  FixedPart();
  return std::move(findings_);
}

} // namespace

std::string_view LintIdName(LintId id) {
  switch (id) {
  case LintId::TranslationWithoutTable:
    return "translation-without-table";
  case LintId::TableWithoutTranslation:
    return "table-without-translation";
  case LintId::VersionStringMismatch:
    return "version-string-mismatch";
  case LintId::VersionStringInvalid:
    return "version-string-invalid";
  case LintId::SeveralLanguages:
    return "several-languages";
  case LintId::MissingKey:
    return "missing-key";
  case LintId::EmptyValue:
    return "empty-value";
  case LintId::DuplicateKey:
    return "duplicate-key";
  case LintId::TextOutsideCodePage:
    return "text-outside-code-page";
  case LintId::FlagsOutsideMask:
    return "flags-outside-mask";
  case LintId::FileTypeMismatch:
    return "file-type-mismatch";
  }
  return "unknown";
}

std::vector<LintFinding> LintVersionInfo(const VersionInfo &info, const ModuleFacts &facts) {
  return Linter(info, facts).Run();
}

} // namespace qm
