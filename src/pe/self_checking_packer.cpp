#include "pe/self_checking_packer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace qm::pe {
namespace {

// A row is a mark: all its section names present, or the entry point's
// bytes as given ("??" any byte). A packer may have several rows.
struct Mark {
  std::string_view packer;
  std::array<std::string_view, 2> sections; // empty names are not asked
  std::string_view entry;                   // hex bytes, "" when not asked
};

// Section names are those the tools write; entry marks are the first bytes
// of their stubs. A mark too common in compiled code (a compiler's usual
// prologue) is left out: a false match would refuse an ordinary module.
constexpr Mark kMarks[] = {
    {"Petite", {".petite"}, ""},
    {"Petite", {}, "B8 ?? ?? ?? ?? 68 ?? ?? ?? ?? 64 FF 35 00 00 00 00 64 89 25 00 00 00 00 66 9C 60 50"},
    {"Petite", {}, "B8 ?? ?? ?? ?? 66 9C 60 50 8B D8 03 00 68"},
    {"PESpin", {".taz"}, ""},
    {"PESpin", {}, "EB 01 ?? 60 E8 00 00 00 00 8B 1C 24 83 C3 12 81 2B E8 B1 06 00 FE 4B FD 82 2C 24"},
    {"yC", {"yC"}, ""},
    {"yC", {}, "55 8B EC 53 56 57 60 E8 00 00 00 00 5D 81 ED"},
    {"Themida", {".themida"}, ""},
    {"WinLicense", {".winlice"}, ""},
    {"VMProtect", {".vmp0"}, ""},
    {"VMProtect", {".vmp1"}, ""},
    {"Enigma", {".enigma1"}, ""},
    {"Enigma", {".enigma2"}, ""},
    {"Obsidium", {}, "EB 02 ?? ?? E8 ?? 00 00 00"},
    {"ASProtect", {".aspr"}, ""},
    {"ASProtect", {}, "68 01 ?? ?? ?? E8 01 00 00 00 C3 C3"},
    {"Armadillo", {".text1", ".data1"}, ""},
    {"ExeCryptor",
     {},
     "E8 24 00 00 00 8B 4C 24 0C C7 01 17 00 01 00 C7 81 B8 00 00 00 00 00 00 00 31 C0 89 41 14 89 41 18 80"},
};

constexpr std::size_t kLongestEntryMark = 48;

bool HasSection(const PeHeaders &headers, std::string_view name) {
  return std::any_of(headers.sections.begin(), headers.sections.end(),
                     [&](const Section &s) { return s.Name() == name; });
}

int HexDigit(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

// `entry` holds what the file has at the entry point, possibly fewer bytes
// than a mark asks: such a mark does not match.
bool EntryMatches(std::string_view mark, const std::vector<std::uint8_t> &entry) {
  std::size_t i = 0;
  for (std::size_t at = 0; at + 1 < mark.size(); at += 3, ++i) {
    if (i >= entry.size()) return false;
    if (mark[at] == '?') continue;
    if (entry[i] != HexDigit(mark[at]) * 16 + HexDigit(mark[at + 1])) return false;
  }
  return true;
}

// Up to the longest mark's length of what the loader maps from the file at
// the entry point.
std::vector<std::uint8_t> EntryBytes(const ByteSource &file, const PeHeaders &headers) {
  for (std::uint32_t length = kLongestEntryMark; length > 0; --length) {
    if (const auto at = headers.RvaToOffset(headers.entryPoint, length)) {
      if (auto bytes = file.Bytes(*at, length)) return std::move(*bytes);
    }
  }
  return {};
}

} // namespace

std::optional<std::string_view> FindSelfCheckingPacker(const ByteSource &file, const PeHeaders &headers) {
  const std::vector<std::uint8_t> entry =
      headers.entryPoint != 0 ? EntryBytes(file, headers) : std::vector<std::uint8_t>{};
  for (const Mark &mark : kMarks) {
    const bool sectionsMatch = std::all_of(mark.sections.begin(), mark.sections.end(), [&](std::string_view name) {
      return name.empty() || HasSection(headers, name);
    });
    const bool asksSomething = !mark.sections[0].empty() || !mark.entry.empty();
    if (asksSomething && sectionsMatch && (mark.entry.empty() || EntryMatches(mark.entry, entry))) return mark.packer;
  }
  return std::nullopt;
}

} // namespace qm::pe
