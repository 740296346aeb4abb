#pragma once
// The whole version information of a resource, whatever tool wrote it: the
// fixed part, every StringTable and every translation. The general reader
// fills it, the writer turns it back into a block, and an edit
// (codec/version_edit.h) changes it in place.
#include <cstdint>
#include <string>
#include <vector>

#include "codec/block_values.h"

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

} // namespace qm
