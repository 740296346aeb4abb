#include "cli/edit_arguments.h"

#include "base/shown_text.h"
#include "codec/field_codes.h"
#include "codec/text_codec.h"

namespace qm::cli {
namespace {

// The value's own refusal, as a usage error of the option that carried it.
template <typename T> Result<T> ForOption(std::string_view option, Result<T> value) {
  if (value) return value;
  Error error = Context(std::string(option) + ": ", value.failure());
  error.kind = ErrorKind::Usage;
  return error;
}

} // namespace

Result<std::u16string> TextFromArgument(std::string_view text) {
  std::u16string units = Utf8ToUtf16(text);
  if (Utf16ToUtf8(units) != text) return Fail(ErrorKind::Usage, Quoted(text) + " is not valid UTF-8");
  return units;
}

Result<StringChange> StringChangeFromArgument(std::string_view keyEqualsValue) {
  const std::size_t equals = keyEqualsValue.find('=');
  if (equals == std::string_view::npos || equals == 0) {
    return Fail(ErrorKind::Usage,
                "--string: " + Quoted(keyEqualsValue) + " is not KEY=VALUE with a key before the '='");
  }
  QM_UNWRAP_OR_RETURN(key, ForOption("--string", TextFromArgument(keyEqualsValue.substr(0, equals))));
  QM_UNWRAP_OR_RETURN(value, ForOption("--string", TextFromArgument(keyEqualsValue.substr(equals + 1))));
  return StringChange{std::move(key), std::move(value)};
}

Result<WrittenVersion> WrittenVersionFromArgument(std::string_view option, std::string_view text) {
  // The text may become a string as given, so it must be UTF-8 first.
  QM_RETURN_IF_ERROR(ForOption(option, TextFromArgument(text)));
  return ForOption(option, VersionFromWrittenText(text));
}

Result<std::u16string> TableKeyFromArgument(std::string_view text) {
  return ForOption("--table", TableKeyFromText(text));
}

Result<std::uint16_t> LanguageFromArgument(std::string_view text) {
  return ForOption("--language", LanguageFromText(text));
}

Result<std::uint32_t> FileOsFromArgument(std::string_view text) { return ForOption("--file-os", FileOsFromText(text)); }

Result<std::uint32_t> FileTypeFromArgument(std::string_view text) {
  return ForOption("--file-type", FileTypeFromText(text));
}

Result<std::uint32_t> FileSubTypeFromArgument(std::string_view text) {
  return ForOption("--file-subtype", FileSubTypeFromText(text));
}

} // namespace qm::cli
