#include "codec/version_diff.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <utility>

#include "codec/field_codes.h"
#include "codec/text_codec.h"

namespace qm {
namespace {

std::string Hex(std::uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

std::string Version(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d) {
  return std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." + std::to_string(d);
}

// A code with the name show prints beside it, so a difference reads
// without a table at hand.
std::string Named(std::uint32_t value, const std::optional<std::string> &name) {
  return Hex(value, 8) + (name ? " (" + *name + ")" : "");
}

std::string Flags(std::uint32_t flags) {
  std::string names;
  for (const std::string &name : FlagNames(flags))
    names += (names.empty() ? "" : ", ") + name;
  return Hex(flags, 8) + (names.empty() ? "" : " (" + names + ")");
}

struct FixedMember {
  const char *name; // show --json's
  std::function<std::string(const FixedFileInfo &)> text;
};

const std::vector<FixedMember> &FixedMembers() {
  static const std::vector<FixedMember> members = {
      {"fileVersion",
       [](const FixedFileInfo &f) { return Version(f.FileMajor, f.FileMinor, f.FileRelease, f.FileBuild); }},
      {"productVersion",
       [](const FixedFileInfo &f) { return Version(f.ProdMajor, f.ProdMinor, f.ProdRelease, f.ProdBuild); }},
      {"fileFlagsMask", [](const FixedFileInfo &f) { return Hex(f.FlagsMask, 8); }},
      {"fileFlags", [](const FixedFileInfo &f) { return Flags(f.Flags); }},
      {"fileOs", [](const FixedFileInfo &f) { return Named(f.FileOs, FileOsName(f.FileOs)); }},
      {"fileType", [](const FixedFileInfo &f) { return Named(f.FileType, FileTypeName(f.FileType)); }},
      {"fileSubType", [](const FixedFileInfo &f) { return Named(f.FileSubType, FileSubTypeName(f.FileSubType)); }},
      {"fileDate", [](const FixedFileInfo &f) { return Hex(f.FileDate, 16); }},
  };
  return members;
}

void DiffFixed(const VersionInfo &a, const VersionInfo &b, std::vector<VersionDifference> &out) {
  if (a.HasFixedPart != b.HasFixedPart) {
    auto text = [](bool has) { return std::string(has ? "true" : "false"); };
    out.push_back({DiffChange::Changed, "fixed", "", "hasFixedPart", text(a.HasFixedPart), text(b.HasFixedPart)});
    return;
  }
  if (!a.HasFixedPart) return;
  for (const FixedMember &member : FixedMembers()) {
    std::string before = member.text(a.Fixed), after = member.text(b.Fixed);
    if (before != after) out.push_back({DiffChange::Changed, "fixed", "", member.name, before, after});
  }
}

// A key as SameKey sees it, and which of the entries with that key it is:
// the second "Comments" of A pairs with the second of B.
using EntryId = std::pair<std::u16string, std::size_t>;

std::u16string Folded(std::u16string key) {
  for (char16_t &c : key)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return key;
}

template <typename T, typename KeyOf> std::vector<EntryId> Ids(const std::vector<T> &items, KeyOf keyOf) {
  std::map<std::u16string, std::size_t> seen;
  std::vector<EntryId> ids;
  ids.reserve(items.size());
  for (const T &item : items) {
    std::u16string folded = Folded(keyOf(item));
    const std::size_t occurrence = seen[folded]++;
    ids.emplace_back(std::move(folded), occurrence);
  }
  return ids;
}

// Which of the items keep their order: a longest increasing run of their
// positions on the other side (patience sorting, n log n). The rest moved.
std::vector<bool> KeptInOrder(const std::vector<std::size_t> &positions) {
  std::vector<std::size_t> tails, previous(positions.size(), SIZE_MAX);
  for (std::size_t i = 0; i < positions.size(); ++i) {
    auto at = std::lower_bound(tails.begin(), tails.end(), positions[i],
                               [&](std::size_t tail, std::size_t value) { return positions[tail] < value; });
    if (at != tails.begin()) previous[i] = *(at - 1);
    if (at == tails.end()) {
      tails.push_back(i);
    } else {
      *at = i;
    }
  }
  std::vector<bool> kept(positions.size(), false);
  for (std::size_t i = tails.empty() ? SIZE_MAX : tails.back(); i != SIZE_MAX; i = previous[i])
    kept[i] = true;
  return kept;
}

void DiffStrings(const StringTable &a, const StringTable &b, std::vector<VersionDifference> &out) {
  const std::string table = Utf16ToUtf8(a.Key);
  const auto keyOf = [](const DecodedString &s) { return s.Key; };
  const std::vector<EntryId> idsA = Ids(a.Strings, keyOf), idsB = Ids(b.Strings, keyOf);
  std::map<EntryId, std::size_t> inB;
  for (std::size_t j = 0; j < idsB.size(); ++j)
    inB[idsB[j]] = j;
  std::vector<std::size_t> common, positions; // indices in A, and where B holds them
  std::vector<bool> matched(idsB.size(), false);
  for (std::size_t i = 0; i < idsA.size(); ++i) {
    auto found = inB.find(idsA[i]);
    if (found == inB.end()) continue;
    common.push_back(i), positions.push_back(found->second);
    matched[found->second] = true;
  }
  const std::vector<bool> kept = KeptInOrder(positions);
  std::size_t k = 0;
  for (std::size_t i = 0; i < idsA.size(); ++i) {
    const DecodedString &s = a.Strings[i];
    const std::string key = Utf16ToUtf8(s.Key);
    if (k == common.size() || common[k] != i) {
      out.push_back({DiffChange::Removed, "string", table, key, Utf16ToUtf8(s.Value), std::nullopt});
      continue;
    }
    const DecodedString &t = b.Strings[positions[k]];
    if (s.Value != t.Value)
      out.push_back({DiffChange::Changed, "string", table, key, Utf16ToUtf8(s.Value), Utf16ToUtf8(t.Value)});
    if (!kept[k])
      out.push_back({DiffChange::Moved, "string", table, key, std::to_string(i + 1), std::to_string(positions[k] + 1)});
    ++k;
  }
  for (std::size_t j = 0; j < idsB.size(); ++j) {
    if (!matched[j])
      out.push_back({DiffChange::Added, "string", table, Utf16ToUtf8(b.Strings[j].Key), std::nullopt,
                     Utf16ToUtf8(b.Strings[j].Value)});
  }
}

void DiffTables(const VersionInfo &a, const VersionInfo &b, std::vector<VersionDifference> &out) {
  const auto keyOf = [](const StringTable &t) { return t.Key; };
  const std::vector<EntryId> idsA = Ids(a.Tables, keyOf), idsB = Ids(b.Tables, keyOf);
  for (std::size_t i = 0; i < idsA.size(); ++i) {
    auto found = std::find(idsB.begin(), idsB.end(), idsA[i]);
    if (found == idsB.end()) {
      out.push_back({DiffChange::Removed, "table", Utf16ToUtf8(a.Tables[i].Key), "", std::nullopt, std::nullopt});
    } else {
      DiffStrings(a.Tables[i], b.Tables[static_cast<std::size_t>(found - idsB.begin())], out);
    }
  }
  for (std::size_t j = 0; j < idsB.size(); ++j) {
    if (std::find(idsA.begin(), idsA.end(), idsB[j]) == idsA.end())
      out.push_back({DiffChange::Added, "table", Utf16ToUtf8(b.Tables[j].Key), "", std::nullopt, std::nullopt});
  }
}

std::string TranslationList(const std::vector<Translation> &list) {
  std::string text;
  for (const Translation &t : list)
    text += (text.empty() ? "" : ", ") + Hex(t.Language, 4) + "/" + std::to_string(t.CodePage);
  return text.empty() ? "none" : text;
}

std::string LanguageList(const std::vector<std::uint16_t> &list) {
  std::string text;
  for (std::uint16_t language : list)
    text += (text.empty() ? "" : ", ") + Hex(language, 4);
  return text.empty() ? "none" : text;
}

} // namespace

std::vector<VersionDifference> DiffVersionInfo(const VersionInfo &a, const VersionInfo &b) {
  std::vector<VersionDifference> out;
  DiffFixed(a, b, out);
  DiffTables(a, b, out);
  const std::string before = TranslationList(a.Translations), after = TranslationList(b.Translations);
  if (before != after) out.push_back({DiffChange::Changed, "translations", "", "", before, after});
  return out;
}

std::optional<VersionDifference> DiffLanguages(const std::vector<std::uint16_t> &a,
                                               const std::vector<std::uint16_t> &b) {
  if (a == b) return std::nullopt;
  return VersionDifference{DiffChange::Changed, "languages", "", "", LanguageList(a), LanguageList(b)};
}

const char *DiffChangeName(DiffChange change) {
  switch (change) {
  case DiffChange::Added:
    return "added";
  case DiffChange::Removed:
    return "removed";
  case DiffChange::Changed:
    return "changed";
  case DiffChange::Moved:
    return "moved";
  }
  return "changed";
}

} // namespace qm
