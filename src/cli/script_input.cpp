#include "cli/script_input.h"

#include <string>

#include "base/shown_text.h"
#include "cli/command_context.h"
#include "codec/rc_script_reader.h"

namespace qm::cli {
bool LooksLikeJson(std::span<const std::uint8_t> text) {
  std::string_view chars(reinterpret_cast<const char *>(text.data()), text.size());
  if (chars.starts_with("\xEF\xBB\xBF")) chars.remove_prefix(3);
  const std::size_t first = chars.find_first_not_of(" \t\r\n");
  return first != std::string_view::npos && chars[first] == '{';
}

Result<InfoFromJson> VersionInfoFromScript(std::span<const std::uint8_t> text, const std::string &path,
                                           const ScriptFlags &flags, const ScriptPlace &place) {
  std::string_view chars(reinterpret_cast<const char *>(text.data()), text.size());
  // Editors on Windows mark UTF-8 with a byte order mark, which is no part
  // of the script; UTF-16 (what some save .rc files as) is not read at all.
  if (chars.starts_with("\xEF\xBB\xBF")) chars.remove_prefix(3);
  if (chars.starts_with("\xFF\xFE") || chars.starts_with("\xFE\xFF")) {
    return Error{"the resource script " + Quoted(path) + " is UTF-16; save it as UTF-8 or ASCII", ErrorKind::Invalid,
                 FileRole::Input};
  }
  ScriptOptions options;
  options.OnlyVersion = flags.onlyVersion;
  options.Defines = flags.defines;
  options.Undefines = flags.undefines;
  options.CodePage = static_cast<std::uint16_t>(flags.codePage);
  options.Resolver = place.resolver;
  options.Folder = place.folder;
  auto parsed = ReadResourceScript(chars, options);
  if (!parsed) {
    Error error = Context("the resource script " + Quoted(path) + " is refused: ", parsed.failure());
    return InRole(FileRole::Input, WithKind(ErrorKind::Invalid, std::move(error)));
  }
  InfoFromJson out;
  out.Info = std::move(parsed->Info);
  if (parsed->HasLanguage) out.Language = parsed->Language;
  return out;
}

} // namespace qm::cli
