#include "pe/version_reader.h"

#include <algorithm>

#include "pe/pe_image.h"
#include "pe/resource_tree.h"
#include "pe/resource_update.h"

namespace qm::pe {

std::uint16_t ChooseLanguage(const std::vector<std::uint16_t> &available, std::uint16_t userLanguage) {
  for (std::uint16_t wanted : {kLanguageNeutral, userLanguage, kLanguageUsEnglish}) {
    if (std::find(available.begin(), available.end(), wanted) != available.end()) return wanted;
  }
  return available.front();
}

Result<std::optional<FoundResource>> FindModuleResource(const ByteSource &source, const ResourceId &type,
                                                        const ResourceId &name, std::uint16_t userLanguage) {
  QM_UNWRAP_OR_RETURN(headers, ParseHeaders(source));
  QM_UNWRAP_OR_RETURN(leaves, ParseResourceTree(source, headers));
  std::vector<const ResourceLeaf *> matches;
  std::vector<std::uint16_t> languages;
  for (const auto &leaf : leaves) {
    if (leaf.type == type && leaf.name == name) {
      matches.push_back(&leaf);
      languages.push_back(leaf.language);
    }
  }
  if (matches.empty()) return std::optional<FoundResource>{};
  const std::uint16_t chosen = ChooseLanguage(languages, userLanguage);
  const ResourceLeaf &leaf =
      **std::find_if(matches.begin(), matches.end(), [&](const ResourceLeaf *l) { return l->language == chosen; });
  QM_UNWRAP_OR_RETURN(bytes, ReadLeafData(source, headers, leaf));
  FoundResource found;
  found.bytes = std::move(bytes);
  found.language = chosen;
  found.codePage = leaf.codePage;
  for (std::uint16_t language : languages) {
    if (language != chosen) found.otherLanguages.push_back(language);
  }
  std::sort(found.otherLanguages.begin(), found.otherLanguages.end());
  found.otherLanguages.erase(std::unique(found.otherLanguages.begin(), found.otherLanguages.end()),
                             found.otherLanguages.end());
  return std::optional<FoundResource>(std::move(found));
}

Result<LeafBytes> ReadHeldResource(const ResourceUpdate &update, const ResourceItem &item) {
  if (!item.keepAddress && item.data.Span().size() == item.data.size()) return item.data;
  // A leaf the update keeps by its address, or whose file bytes could not
  // be read: the reader of single leaves says what is wrong, or reads it.
  const ResourceLeaf leaf{item.type, item.name, item.language, item.keptRva, item.keptSize, item.codePage, false};
  QM_UNWRAP_OR_RETURN(bytes, ReadLeafData(update.Source(), update.Headers(), leaf));
  return LeafBytes(std::move(bytes));
}

Result<std::optional<FoundResource>> ReadVersionResource(const ByteSource &source, std::uint16_t userLanguage) {
  return FindModuleResource(source, ResourceId(kTypeVersion), ResourceId(1), userLanguage);
}

} // namespace qm::pe
