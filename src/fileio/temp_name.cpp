#include <cstdio>

#include "fileio/file_io.h"

namespace qm::fileio {
namespace {

// FNV-1a: a fixed, portable hash, so every build names a target's
// temporary files alike.
std::uint32_t NameHash(const std::string &name) {
  std::uint32_t hash = 2166136261u;
  for (unsigned char c : name) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash;
}

constexpr std::size_t kPrefixLength = 11; // ".qm" and 8 digits
constexpr std::size_t kNameLength = kPrefixLength + 1 + 4 + 4;

} // namespace

std::string TemporaryName(const std::string &targetName, std::uint16_t random) {
  char text[kNameLength + 1];
  std::snprintf(text, sizeof text, ".qm%08x-%04x.tmp", static_cast<unsigned>(NameHash(targetName)),
                static_cast<unsigned>(random));
  return text;
}

bool IsTemporaryNameOf(const std::string &name, const std::string &targetName) {
  if (name.size() != kNameLength) return false;
  const std::string expected = TemporaryName(targetName, 0);
  if (name.compare(0, kPrefixLength + 1, expected, 0, kPrefixLength + 1) != 0) return false;
  if (name.compare(kNameLength - 4, 4, ".tmp") != 0) return false;
  for (std::size_t i = kPrefixLength + 1; i < kNameLength - 4; ++i) {
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

} // namespace qm::fileio
