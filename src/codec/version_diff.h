#pragma once
// What differs between two pieces of version information, A and B, as
// `diff` lists it: the fixed part member by member, the StringTables by
// key, the strings of each table by key and in order, the translations, and
// the languages holding a version resource. Keys compare as the platform's
// version lookup compares them (SameKey); values compare exactly.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "codec/version_info.h"

namespace qm {

enum class DiffChange { Added, Removed, Changed, Moved };

struct VersionDifference {
  DiffChange Change = DiffChange::Changed;
  std::string Section; // "fixed", "table", "string", "translations" or "languages"
  std::string Table;   // the StringTable's key ("table" and "string"), as A holds it where A has it
  std::string Key;     // the fixed member as show --json names it, or the string's key
  // The value on each side as UTF-8 text, none where that side lacks it;
  // for Moved, the string's 1-based position in its table on each side.
  std::optional<std::string> A, B;
};

// In this order: the fixed part, then each table of A (its strings removed,
// changed and moved in A's order, then those added in B's order) and the
// tables only B has, then the translations. Empty when A and B are the same.
std::vector<VersionDifference> DiffVersionInfo(const VersionInfo &a, const VersionInfo &b);

// The languages holding a version resource in each file, as one difference
// when the lists are not the same.
std::optional<VersionDifference> DiffLanguages(const std::vector<std::uint16_t> &a,
                                               const std::vector<std::uint16_t> &b);

const char *DiffChangeName(DiffChange change); // "added", "removed", "changed", "moved"

} // namespace qm
