#include "cli/show_report.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <sstream>

#include "base/shown_text.h"
#include "codec/field_codes.h"
#include "codec/rc_script_writer.h"
#include "codec/text_codec.h"

namespace qm::cli {
namespace {

std::string HexNumber(std::uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

std::string VersionText(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d) {
  return std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." + std::to_string(d);
}

std::string WithName(std::uint32_t value, const std::optional<std::string> &name) {
  return HexNumber(value, 8) + (name ? " (" + *name + ")" : std::string());
}

// Strings from the file, made safe for a terminal: a newline or an escape
// sequence inside a value must not print a line of its own.
std::string Printed(const std::u16string &text) { return EscapeControls(Utf16ToUtf8(text)); }

std::string JoinedNames(const std::vector<std::string> &names) {
  std::string joined;
  for (const std::string &name : names)
    joined += (joined.empty() ? "" : ", ") + name;
  return joined;
}

} // namespace

std::string ShowAsText(const VersionInfo &info, const ShownOrigin &origin) {
  std::ostringstream out;
  out << "Read from:       " << origin.kind;
  if (origin.language) out << ", language " << HexNumber(*origin.language, 4);
  out << "\n";
  if (!origin.otherLanguages.empty()) {
    out << "Also stored in:  ";
    for (std::size_t i = 0; i < origin.otherLanguages.size(); ++i) {
      out << (i ? ", " : "") << "language " << HexNumber(origin.otherLanguages[i], 4);
    }
    out << "\n";
  }
  if (origin.file) {
    const auto where = [](const pe::AppendedPart &part) {
      return HexNumber(part.offset, 1) + ", " + std::to_string(part.size) + " bytes";
    };
    out << "Signature:       "
        << (origin.file->signature ? "certificate table at " + where(*origin.file->signature) : std::string("none"))
        << "\n";
    out << "Appended data:   " << (origin.file->appended.empty() ? "none\n" : "");
    for (std::size_t i = 0; i < origin.file->appended.size(); ++i) {
      const pe::AppendedPart &part = origin.file->appended[i];
      out << (i ? "                 " : "") << pe::AppendedKindName(part.kind) << " at " << where(part) << "\n";
    }
    if (origin.file->selfCheckingPacker)
      out << "Packed with:     " << *origin.file->selfCheckingPacker << ", which checks its own image\n";
  }
  if (info.HasFixedPart) {
    const FixedFileInfo &f = info.Fixed;
    const std::vector<std::string> flagNames = FlagNames(f.Flags);
    out << "File version:    " << VersionText(f.FileMajor, f.FileMinor, f.FileRelease, f.FileBuild) << "\n"
        << "Product version: " << VersionText(f.ProdMajor, f.ProdMinor, f.ProdRelease, f.ProdBuild) << "\n"
        << "File flags mask: " << HexNumber(f.FlagsMask, 8) << "\n"
        << "File flags:      " << HexNumber(f.Flags, 8)
        << (flagNames.empty() ? std::string() : " (" + JoinedNames(flagNames) + ")") << "\n"
        << "File OS:         " << WithName(f.FileOs, FileOsName(f.FileOs)) << "\n"
        << "File type:       " << WithName(f.FileType, FileTypeName(f.FileType)) << "\n"
        << "File subtype:    " << WithName(f.FileSubType, FileSubTypeName(f.FileSubType)) << "\n"
        << "File date:       " << HexNumber(f.FileDate, 16) << "\n";
  } else {
    out << "Fixed part:      none\n";
  }
  for (const StringTable &table : info.Tables) {
    out << "StringTable " << Printed(table.Key) << ":\n";
    for (const DecodedString &entry : table.Strings) {
      out << "  " << Printed(entry.Key) << " = " << Printed(entry.Value) << "\n";
    }
  }
  for (const Translation &translation : info.Translations) {
    out << "Translation:     language " << HexNumber(translation.Language, 4) << ", code page " << translation.CodePage
        << "\n";
  }
  return out.str();
}

std::string ShowAsJson(const VersionInfo &info, const ShownOrigin &origin) {
  nlohmann::ordered_json root;
  root["kind"] = origin.kind;
  if (origin.language) {
    root["language"] = *origin.language;
    root["otherLanguages"] = origin.otherLanguages;
  }
  if (origin.file) {
    root["signed"] = origin.file->signature.has_value();
    nlohmann::ordered_json appended = nlohmann::ordered_json::array();
    for (const pe::AppendedPart &part : origin.file->appended)
      appended.push_back({{"kind", pe::AppendedKindName(part.kind)}, {"offset", part.offset}, {"size", part.size}});
    root["appendedData"] = std::move(appended);
    // Always there for a module, so a script tells "none" from "not asked".
    root["selfCheckingPacker"] = origin.file->selfCheckingPacker
                                     ? nlohmann::ordered_json(std::string(*origin.file->selfCheckingPacker))
                                     : nlohmann::ordered_json();
  }
  root["hasFixedPart"] = info.HasFixedPart;
  if (info.HasFixedPart) {
    const FixedFileInfo &f = info.Fixed;
    root["fileVersion"] = VersionText(f.FileMajor, f.FileMinor, f.FileRelease, f.FileBuild);
    root["productVersion"] = VersionText(f.ProdMajor, f.ProdMinor, f.ProdRelease, f.ProdBuild);
    root["fileFlagsMask"] = f.FlagsMask;
    root["fileFlags"] = f.Flags;
    root["fileFlagNames"] = FlagNames(f.Flags);
    root["fileOs"] = f.FileOs;
    if (auto name = FileOsName(f.FileOs)) root["fileOsName"] = *name;
    root["fileType"] = f.FileType;
    if (auto name = FileTypeName(f.FileType)) root["fileTypeName"] = *name;
    root["fileSubType"] = f.FileSubType;
    if (auto name = FileSubTypeName(f.FileSubType)) root["fileSubTypeName"] = *name;
    root["fileDate"] = f.FileDate;
  }
  nlohmann::ordered_json tables = nlohmann::ordered_json::array();
  for (const StringTable &table : info.Tables) {
    nlohmann::ordered_json strings = nlohmann::ordered_json::array();
    for (const DecodedString &entry : table.Strings) {
      strings.push_back(nlohmann::ordered_json::array({Utf16ToUtf8(entry.Key), Utf16ToUtf8(entry.Value)}));
    }
    tables.push_back({{"key", Utf16ToUtf8(table.Key)}, {"strings", std::move(strings)}});
  }
  root["stringTables"] = std::move(tables);
  nlohmann::ordered_json translations = nlohmann::ordered_json::array();
  for (const Translation &translation : info.Translations) {
    translations.push_back(nlohmann::ordered_json::array({translation.Language, translation.CodePage}));
  }
  root["translations"] = std::move(translations);
  return root.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

Result<std::string> ShowAsScript(const VersionInfo &info, const ShownOrigin &origin) {
  // The translation names the language the strings are in, so a block file
  // compiled from the script lands where its own strings say it belongs.
  std::uint16_t language = 0;
  if (origin.language) {
    language = *origin.language;
  } else if (!info.Translations.empty()) {
    language = info.Translations.front().Language;
  }
  return ToResourceScript(info, language);
}

} // namespace qm::cli
