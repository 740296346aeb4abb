// The corpus runs' judge of modules nobody here built.
//   corpus_check --kind FILE...        one line per file that is MZ + PE:
//                                      FILE<TAB>PE32|PE32+ exe|dll|efi|.NET MACHINE
//   corpus_check --script-same MODULE RES
//                                      after `quillmark-cli show --format rc MODULE` compiled by
//                                      windres into RES: prints what the script lost and exits 1,
//                                      or exits 0 (the structure version is not compared).
//   corpus_check ORIGINAL STAMPED A.B.C.D KEY=VALUE
//                                      after `quillmark-cli set STAMPED --file-version
//                                      A.B.C.D --string KEY=VALUE` on a copy of ORIGINAL:
//                                      prints what the stamp broke and exits 1, or exits 0.
// The kind is read from the raw headers, so a module the reader refuses is
// still counted under its kind.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "base/byte_reader.h"
#include "codec/text_codec.h"
#include "codec/version_info_reader.h"
#include "pe/byte_source.h"
#include "pe/pe_image.h"
#include "pe/res_file.h"
#include "pe/version_reader.h"
#include "stamp_promises.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The whole file, or its first `limit` bytes.
bool ReadFile(const char *path, Bytes &out, std::size_t limit = SIZE_MAX) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.clear();
  char chunk[65536];
  while (out.size() < limit) {
    in.read(chunk, static_cast<std::streamsize>(std::min(sizeof chunk, limit - out.size())));
    if (in.gcount() <= 0) break;
    out.insert(out.end(), chunk, chunk + in.gcount());
  }
  return !in.bad();
}

std::string MachineName(std::uint16_t machine) {
  switch (machine) {
  case 0x014C:
    return "i386";
  case 0x8664:
    return "x64";
  case 0xAA64:
    return "arm64";
  case 0x01C4:
    return "arm";
  case 0x0200:
    return "ia64";
  case 0x0EBC:
    return "ebc";
  default: {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", machine);
    return text;
  }
  }
}

// Empty when the file is not MZ with a PE signature where e_lfanew points.
std::string Kind(const Bytes &file) {
  const qm::ByteReader r(file);
  if (r.u16(0) != 0x5A4D) return "";
  const auto pe = r.u32(0x3C);
  if (!pe || r.u32(*pe) != 0x00004550) return "";
  const std::size_t optional = std::size_t{*pe} + 24;
  const auto magic = r.u16(optional);
  const std::string bits = magic == 0x10B ? "PE32" : magic == 0x20B ? "PE32+" : "PE?";
  const std::uint16_t subsystem = r.u16(optional + 68).value_or(0);
  const std::size_t clrDirectory = optional + (magic == 0x20B ? 112 : 96) + 8 * 14;
  const std::uint32_t directories = r.u32(optional + (magic == 0x20B ? 108 : 92)).value_or(0);
  const bool clr = directories > 14 && r.u32(clrDirectory + 4).value_or(0) != 0;
  const bool dll = (r.u16(std::size_t{*pe} + 22).value_or(0) & 0x2000) != 0;
  const std::string kind = subsystem >= 10 && subsystem <= 13 ? "efi" : clr ? ".NET" : dll ? "dll" : "exe";
  return bits + " " + kind + " " + MachineName(r.u16(std::size_t{*pe} + 4).value_or(0));
}

// The platform's checksum, summed here on its own: the file's 16-bit words
// with the field taken as zero, carries folded back in, plus the length.
// Only for a field on a word boundary, as every linker puts it.
bool ChecksumRight(const Bytes &file, std::uint64_t fieldAt, std::uint32_t stored) {
  if (fieldAt % 2 != 0 || fieldAt + 4 > file.size()) return true;
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < file.size(); i += 2) {
    if (i >= fieldAt && i < fieldAt + 4) continue;
    sum += file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
  }
  while (sum > 0xFFFF)
    sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + file.size()) == stored;
}

bool IsKey(const std::u16string &a, const std::u16string &b) {
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

struct Expected {
  std::uint16_t version[4];
  std::u16string key, value;
};

// The strings of a table without the two the stamp sets.
std::vector<qm::DecodedString> Others(const qm::StringTable &table) {
  std::vector<qm::DecodedString> out;
  for (const auto &s : table.Strings)
    if (!IsKey(s.Key, u"FileVersion") && !IsKey(s.Key, u"Comments")) out.push_back(s);
  return out;
}

std::u16string FirstValue(const qm::StringTable &table, std::u16string_view key) {
  for (const auto &s : table.Strings)
    if (IsKey(s.Key, std::u16string(key))) return s.Value;
  return u"(none)";
}

// A version block after the stamp beside the one before: the new values
// are there, everything else is as it was.
std::string VersionBroken(std::span<const std::uint8_t> before, std::span<const std::uint8_t> after,
                          const Expected &want) {
  auto now = qm::ReadVersionInfo(after);
  if (!now) return "the new block does not read: " + now.error();
  const qm::FixedFileInfo &f = now->Fixed;
  if (!now->HasFixedPart || f.FileMajor != want.version[0] || f.FileMinor != want.version[1] ||
      f.FileRelease != want.version[2] || f.FileBuild != want.version[3])
    return "the fixed file version is not the new one";
  if (now->Tables.empty()) return "the new block has no string table";
  const std::string versionText = qm::Utf16ToUtf8(FirstValue(now->Tables[0], u"FileVersion"));
  for (const auto &table : now->Tables) {
    if (FirstValue(table, u"FileVersion") != FirstValue(now->Tables[0], u"FileVersion") ||
        FirstValue(table, want.key) != want.value)
      return "table " + qm::Utf16ToUtf8(table.Key) + " lacks a new string";
  }
  char expectedText[32];
  std::snprintf(expectedText, sizeof expectedText, "%u.%u.%u.%u", want.version[0], want.version[1], want.version[2],
                want.version[3]);
  if (versionText != expectedText) return "the FileVersion string is " + versionText;
  if (before.empty()) return "";
  auto old = qm::ReadVersionInfo(before);
  if (!old) return ""; // the stamp replaced a block the reader refuses: nothing to keep
  const qm::FixedFileInfo &o = old->Fixed;
  if (old->HasFixedPart &&
      (o.ProdMajor != f.ProdMajor || o.ProdMinor != f.ProdMinor || o.ProdRelease != f.ProdRelease ||
       o.ProdBuild != f.ProdBuild || o.FlagsMask != f.FlagsMask || o.Flags != f.Flags || o.FileOs != f.FileOs ||
       o.FileType != f.FileType || o.FileSubType != f.FileSubType || o.FileDate != f.FileDate))
    return "a fixed field other than the file version changed";
  if (!old->Tables.empty() && old->Tables.size() != now->Tables.size()) return "string tables were added or lost";
  for (std::size_t i = 0; i < old->Tables.size(); ++i) {
    if (old->Tables[i].Key != now->Tables[i].Key) return "a string table changed its key";
    if (Others(old->Tables[i]) != Others(now->Tables[i]))
      return "table " + qm::Utf16ToUtf8(old->Tables[i].Key) + " changed a string it was not asked to";
  }
  for (std::size_t i = 0; i < old->Translations.size(); ++i) {
    if (i >= now->Translations.size() || old->Translations[i].Language != now->Translations[i].Language ||
        old->Translations[i].CodePage != now->Translations[i].CodePage)
      return "a translation changed";
  }
  return "";
}

int Check(const char *originalPath, const char *stampedPath, const char *version, const char *keyValue) {
  Expected want{};
  if (std::sscanf(version, "%hu.%hu.%hu.%hu", &want.version[0], &want.version[1], &want.version[2], &want.version[3]) !=
          4 ||
      !std::strchr(keyValue, '=')) {
    std::fprintf(stderr, "corpus_check: A.B.C.D and KEY=VALUE expected\n");
    return 2;
  }
  const std::string kv = keyValue;
  want.key = qm::Utf8ToUtf16(kv.substr(0, kv.find('=')));
  want.value = qm::Utf8ToUtf16(kv.substr(kv.find('=') + 1));
  Bytes before, after;
  if (!ReadFile(originalPath, before) || !ReadFile(stampedPath, after)) {
    std::fprintf(stderr, "corpus_check: cannot read %s or %s\n", originalPath, stampedPath);
    return 2;
  }
  std::string broken = qm::pe::BrokenEditPromise(
      before, after, [&](std::span<const std::uint8_t> old, std::span<const std::uint8_t> now) {
        return VersionBroken(old, now, want);
      });
  if (broken.empty()) {
    const auto headers = qm::pe::ParseHeaders(qm::pe::MemorySource(after));
    if (headers && !ChecksumRight(after, headers->CheckSumOffset(), headers->checkSum))
      broken = "the checksum is not the one summed here";
  }
  if (broken.empty()) return 0;
  std::printf("%s: %s\n", stampedPath, broken.c_str());
  return 1;
}

// What a compiled script lost of the module's information, in the first
// place it differs; empty when nothing.
std::string ScriptLost(const qm::VersionInfo &was, const qm::VersionInfo &now) {
  const qm::FixedFileInfo &a = was.Fixed, &b = now.Fixed;
  if (!was.HasFixedPart) return "the module's block has no fixed part";
  if (a.FileDate != b.FileDate) return "the file date";
  if (std::tie(a.FileMajor, a.FileMinor, a.FileRelease, a.FileBuild, a.ProdMajor, a.ProdMinor, a.ProdRelease,
               a.ProdBuild, a.FlagsMask, a.Flags, a.FileOs, a.FileType, a.FileSubType) !=
      std::tie(b.FileMajor, b.FileMinor, b.FileRelease, b.FileBuild, b.ProdMajor, b.ProdMinor, b.ProdRelease,
               b.ProdBuild, b.FlagsMask, b.Flags, b.FileOs, b.FileType, b.FileSubType))
    return "a fixed field";
  if (was.Tables.size() != now.Tables.size()) return "the number of string tables";
  for (std::size_t i = 0; i < was.Tables.size(); ++i) {
    if (was.Tables[i].Key != now.Tables[i].Key) return "a table key";
    if (was.Tables[i].Strings != now.Tables[i].Strings)
      return "a string of table " + qm::Utf16ToUtf8(was.Tables[i].Key);
  }
  if (was.Translations.size() != now.Translations.size()) return "the number of translations";
  for (std::size_t i = 0; i < was.Translations.size(); ++i)
    if (was.Translations[i].Language != now.Translations[i].Language ||
        was.Translations[i].CodePage != now.Translations[i].CodePage)
      return "a translation";
  return "";
}

int ScriptSame(const char *modulePath, const char *resPath) {
  Bytes module, res;
  if (!ReadFile(modulePath, module) || !ReadFile(resPath, res)) {
    std::fprintf(stderr, "corpus_check: cannot read %s or %s\n", modulePath, resPath);
    return 2;
  }
  // The resource show reads: neutral, then US English, then the first.
  auto found = qm::pe::ReadVersionResource(qm::pe::MemorySource(module), 0x0409);
  auto entries = qm::pe::ParseResFile(res);
  if (!found || !*found || !entries) {
    std::printf("%s: the module's version resource or the compiled script does not read\n", modulePath);
    return 1;
  }
  const qm::pe::ResFileEntry *compiled = nullptr;
  for (const auto &entry : *entries)
    if (entry.type == qm::pe::ResourceId(16)) compiled = &entry;
  auto was = qm::ReadVersionInfo((*found)->bytes);
  auto now = compiled ? qm::ReadVersionInfo(compiled->data) : qm::Result<qm::VersionInfo>(qm::Fail("none"));
  std::string lost = !was || !now                               ? "a block that does not read"
                     : compiled->language != (*found)->language ? "the language"
                                                                : ScriptLost(*was, *now);
  if (lost.empty()) return 0;
  std::printf("%s: the script loses %s\n", modulePath, lost.c_str());
  return 1;
}

} // namespace

int main(int argc, char **argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--kind") == 0) {
    Bytes file;
    for (int i = 2; i < argc; ++i) {
      if (!ReadFile(argv[i], file, 1 << 20)) continue; // the headers lie near the start
      const std::string kind = Kind(file);
      if (!kind.empty()) std::printf("%s\t%s\n", argv[i], kind.c_str());
    }
    return 0;
  }
  if (argc == 4 && std::strcmp(argv[1], "--script-same") == 0) return ScriptSame(argv[2], argv[3]);
  if (argc == 5) return Check(argv[1], argv[2], argv[3], argv[4]);
  std::fprintf(stderr, "usage: corpus_check --kind FILE... | corpus_check --script-same MODULE RES | "
                       "corpus_check ORIGINAL STAMPED A.B.C.D KEY=VALUE\n");
  return 2;
}
