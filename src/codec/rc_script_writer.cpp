#include "codec/rc_script_writer.h"

#include <cstdio>
#include <iomanip>
#include <sstream>

#include "base/shown_text.h"
#include "codec/rc_script_names.h"
#include "codec/text_codec.h"

namespace qm {
namespace {

std::string Hex(unsigned value, int digits = 0) {
  std::ostringstream out;
  out << std::uppercase << std::hex << std::setfill('0') << std::setw(digits) << value;
  return out.str();
}

void Escape(std::string &out, char16_t unit, bool wide) {
  switch (unit) {
  case u'"':
    out += "\"\"";
    return;
  case u'\\':
    out += "\\\\";
    return;
  case u'\n':
    out += "\\n";
    return;
  case u'\t':
    out += "\\t";
    return;
  case u'\r':
    out += "\\r";
    return;
  default:
    break;
  }
  if (unit >= 0x20 && unit < 0x7F) {
    out.push_back(static_cast<char>(unit));
  } else if (wide) {
    // windres reads at most four hex digits after \x in a wide literal.
    out += "\\x" + Hex(unit, 4);
  } else {
    // And at most three octal digits, whatever follows.
    char text[8];
    std::snprintf(text, sizeof text, "\\%03o", static_cast<unsigned>(unit));
    out += text;
  }
}

void Fixed(std::string &out, const char *statement, std::uint32_t value, const std::string &names) {
  std::string number = "0x" + Hex(value);
  out += std::string(statement) + " " + number;
  if (names != number) out += " // " + names;
  out += "\n";
}

std::string Quad(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d) {
  return std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) + "," + std::to_string(d);
}

Status CheckText(std::u16string_view text, std::string_view what) {
  if (text.find(u'\0') != std::u16string_view::npos)
    return Fail(ErrorKind::Invalid, std::string(what) + " " + Quoted(Utf16ToUtf8(text)) +
                                        " holds a NUL, where a resource compiler ends the literal");
  return Ok();
}

Status WriteTables(std::string &out, const VersionInfo &info) {
  if (info.Tables.empty()) return Ok();
  out += "  BLOCK \"StringFileInfo\"\n  BEGIN\n";
  for (const StringTable &table : info.Tables) {
    QM_RETURN_IF_ERROR(CheckText(table.Key, "the table key"));
    for (char16_t unit : table.Key)
      if (unit < 0x20 || unit >= 0x7F)
        return Fail(ErrorKind::Invalid,
                    "the table key " + Quoted(Utf16ToUtf8(table.Key)) + " is not plain ASCII, which BLOCK needs");
    out += "    BLOCK " + ScriptLiteral(table.Key) + "\n    BEGIN\n";
    for (const DecodedString &entry : table.Strings) {
      QM_RETURN_IF_ERROR(CheckText(entry.Key, "the key"));
      QM_RETURN_IF_ERROR(CheckText(entry.Value, "the value"));
      out += "      VALUE " + ScriptLiteral(entry.Key) + ", " + ScriptLiteral(entry.Value) + "\n";
    }
    out += "    END\n";
  }
  out += "  END\n";
  return Ok();
}

void WriteTranslations(std::string &out, const VersionInfo &info) {
  if (info.Translations.empty()) return;
  out += "  BLOCK \"VarFileInfo\"\n  BEGIN\n    VALUE \"Translation\"";
  for (const Translation &t : info.Translations)
    out += ", 0x" + Hex(t.Language, 4) + ", " + std::to_string(t.CodePage);
  out += "\n  END\n";
}

} // namespace

std::string ScriptLiteral(std::u16string_view text) {
  bool wide = false;
  for (char16_t unit : text)
    wide = wide || unit >= 0x80;
  std::string out = wide ? "L\"" : "\"";
  for (char16_t unit : text)
    Escape(out, unit, wide);
  return out + "\"";
}

Result<std::string> ToResourceScript(const VersionInfo &info, std::uint16_t language, std::uint16_t id) {
  const FixedFileInfo &f = info.Fixed;
  std::string out = "LANGUAGE 0x" + Hex(language & 0x3FFu) + ", 0x" + Hex(language >> 10) + "\n";
  out += std::to_string(id) + " VERSIONINFO\n";
  out += "FILEVERSION " + Quad(f.FileMajor, f.FileMinor, f.FileRelease, f.FileBuild) + "\n";
  out += "PRODUCTVERSION " + Quad(f.ProdMajor, f.ProdMinor, f.ProdRelease, f.ProdBuild) + "\n";
  Fixed(out, "FILEFLAGSMASK", f.FlagsMask, f.FlagsMask == 0x3F ? "VS_FFI_FILEFLAGSMASK" : ScriptFlagNames(f.FlagsMask));
  Fixed(out, "FILEFLAGS", f.Flags, ScriptFlagNames(f.Flags));
  Fixed(out, "FILEOS", f.FileOs, ScriptFileOsName(f.FileOs));
  Fixed(out, "FILETYPE", f.FileType, ScriptFileTypeName(f.FileType));
  Fixed(out, "FILESUBTYPE", f.FileSubType, ScriptFileSubTypeName(f.FileType, f.FileSubType));
  out += "BEGIN\n";
  QM_RETURN_IF_ERROR(WriteTables(out, info));
  WriteTranslations(out, info);
  out += "END\n";
  return out;
}

} // namespace qm
