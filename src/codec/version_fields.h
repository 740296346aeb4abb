#pragma once
// The values the encoder takes, as the editor collects them.
#include <cstdint>
#include <string>
#include <vector>

namespace qm {

// One row of the string table; 8-bit text in the system code page.
struct StringRow {
  std::string Key;
  std::string Value;
};

struct VersionFields {
  std::uint16_t FileMajor = 0;
  std::uint16_t FileMinor = 0;
  std::uint16_t FileRelease = 0;
  std::uint16_t FileBuild = 0;
  std::uint16_t ProdMajor = 0;
  std::uint16_t ProdMinor = 0;
  std::uint16_t ProdRelease = 0;
  std::uint16_t ProdBuild = 0;
  bool Debug = false;
  bool PreRelease = false;
  bool Special = false;
  bool Private = false;
  std::uint32_t FileOs = 0;
  std::uint32_t FileType = 0;
  std::uint32_t FileSubType = 0;
  std::string LanguageText; // four hex digits, such as "0809"
  std::string CodePageText; // four decimal digits, such as "1252" or "0037"
  std::vector<StringRow> Rows;
};

} // namespace qm
