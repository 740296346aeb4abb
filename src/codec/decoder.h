#pragma once
// Reading a version block back into the editor's terms.
//
// This reader looks only where the program's own layout and the usual ones
// put things: fixed offsets, the two children at two possible places, the
// first StringTable. What it finds is returned as plain values; the window
// applies them to its controls in the order given here.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "codec/block_values.h"

namespace qm {

// The version up-downs, in the order the block holds their words.
enum class VersionPart { FileMinor, FileMajor, FileBuild, FileRelease, ProdMinor, ProdMajor, ProdBuild, ProdRelease };

struct VersionWord {
  VersionPart Part;
  std::int16_t Position; // the word read as a signed number
};

struct DecodedVersionBlock {
  // False when the key is not "VS_VERSION_INFO" or the data ends before the
  // fixed part does; then nothing else below is meaningful.
  bool SignatureMatched = false;
  std::array<VersionWord, 8> Words{}; // block order: offsets 48, 50, ..., 62
  std::uint32_t Flags = 0;            // raw dwFileFlags; only the four box bits count
  std::uint32_t FileOs = 0;
  std::uint32_t FileType = 0;
  std::uint32_t FileSubType = 0;

  bool VarFileInfoFound = false;
  bool TranslationFound = false; // Language and CodePage hold the first pair
  std::uint16_t Language = 0;
  std::uint16_t CodePage = 0;

  bool StringFileInfoFound = false;
  std::vector<DecodedString> Strings; // the first StringTable's entries, in order
};

DecodedVersionBlock DecodeVersionBlock(std::span<const std::uint8_t> data);

} // namespace qm
