#pragma once
// A checked walk of a whole version resource, for showing everything in it:
// every StringTable and every translation, whatever tool wrote the block.
// Unlike the editor's decoder it follows the length fields of the tree and
// reports the first inconsistency with the path of the node it found it in.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "codec/decoder.h"
#include "codec/encoder.h"

namespace qm {

struct FixedFileInfo {
  std::uint32_t StrucVersion = 0;
  std::uint16_t FileMajor = 0, FileMinor = 0, FileRelease = 0, FileBuild = 0;
  std::uint16_t ProdMajor = 0, ProdMinor = 0, ProdRelease = 0, ProdBuild = 0;
  std::uint32_t FlagsMask = 0;
  std::uint32_t Flags = 0;
  std::uint32_t FileOs = 0;
  std::uint32_t FileType = 0;
  std::uint32_t FileSubType = 0;
  std::uint64_t FileDate = 0; // dwFileDateMS in the high half
};

struct StringTable {
  std::u16string Key; // language and code page in hex, such as 080904E4
  std::vector<DecodedString> Strings;
};

struct VersionInfo {
  bool HasFixedPart = false; // false when wValueLength is 0
  FixedFileInfo Fixed;
  std::vector<StringTable> Tables;
  std::vector<Translation> Translations; // every pair of every Translation
};

Result<VersionInfo> ReadVersionInfo(std::span<const std::uint8_t> data);

} // namespace qm
