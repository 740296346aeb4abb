#pragma once
// Finding a module's resource without loading it as a program.
#include <cstdint>
#include <optional>
#include <vector>

#include "base/result.h"
#include "pe/byte_source.h"
#include "pe/resource_id.h"
#include "pe/resource_tree.h"

namespace qm::pe {

inline constexpr std::uint16_t kLanguageNeutral = 0x0000;
inline constexpr std::uint16_t kLanguageUsEnglish = 0x0409;

struct FoundResource {
  std::vector<std::uint8_t> bytes; // as the loader would map them; size() is the resource's size
  std::uint16_t language = 0;      // the language that was read
  std::uint32_t codePage = 0;
  std::vector<std::uint16_t> otherLanguages; // the other languages holding it, ascending
};

// Of several languages, the order of choice: neutral first, then the
// user's, then US English, then the first in the tree.
std::uint16_t ChooseLanguage(const std::vector<std::uint16_t> &available, std::uint16_t userLanguage);

// Not named FindResource: <windows.h> turns that name into a macro.
// Errors for what is not a readable module (NotAModule, or Damaged for
// headers, a tree or a leaf that do not hold together); an empty optional
// when the module has no such resource.
Result<std::optional<FoundResource>> FindModuleResource(const ByteSource &source, const ResourceId &type,
                                                        const ResourceId &name, std::uint16_t userLanguage);

// Resource type 16, integer name 1. Reads only the headers, the section
// table, the resource tree and the one leaf.
Result<std::optional<FoundResource>> ReadVersionResource(const ByteSource &source, std::uint16_t userLanguage);

class ResourceUpdate;
// The bytes of a resource an update holds, as the loader would map them, or
// why they cannot be read: the same reading, and the same words, as
// FindModuleResource gives for that leaf, so that every command that reads
// a version resource (show, extract, set, apply) gives one verdict on it.
Result<LeafBytes> ReadHeldResource(const ResourceUpdate &update, const ResourceItem &item);

} // namespace qm::pe
