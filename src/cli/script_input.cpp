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

Result<InfoFromJson> VersionInfoFromScript(std::span<const std::uint8_t> text, std::string_view shown,
                                           bool onlyVersion) {
  std::string_view chars(reinterpret_cast<const char *>(text.data()), text.size());
  // Editors on Windows mark UTF-8 with a byte order mark, which is no part
  // of the script; UTF-16 (what some save .rc files as) is not read at all.
  if (chars.starts_with("\xEF\xBB\xBF")) chars.remove_prefix(3);
  if (chars.starts_with("\xFF\xFE") || chars.starts_with("\xFE\xFF")) {
    return Error{"the resource script " + Quoted(shown) + " is UTF-16; save it as UTF-8 or ASCII", ErrorKind::Invalid,
                 FileRole::Input};
  }
  ScriptOptions options;
  options.OnlyVersion = onlyVersion;
  auto parsed = ReadResourceScript(chars, options);
  if (!parsed) {
    Error error = Context("the resource script " + Quoted(shown) + " is refused: ", parsed.failure());
    if (!onlyVersion && error.message.find("only VERSIONINFO is read") != std::string::npos)
      error.message += " (--only-version skips the other resource statements)";
    return InRole(FileRole::Input, WithKind(ErrorKind::Invalid, std::move(error)));
  }
  InfoFromJson out;
  out.Info = std::move(parsed->Info);
  if (parsed->HasLanguage) out.Language = parsed->Language;
  return out;
}

} // namespace qm::cli
