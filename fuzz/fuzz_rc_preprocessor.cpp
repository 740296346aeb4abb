// Whatever a script and the files it includes hold, the reader ends (within
// its bounds, whatever the includes and macros do) and every refusal says
// where it stopped. The input is the script, then after a NUL byte the text
// every quoted #include finds (itself included, so loops are reached).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "codec/rc_script_reader.h"

namespace {

class OneFile final : public qm::IncludeResolver {
public:
  explicit OneFile(std::string_view text) : text_(text) {}
  qm::Result<std::optional<qm::IncludedFile>> Find(std::string_view name, bool quoted, std::string_view) override {
    if (!quoted || name.empty() || name[0] == 'x') return std::optional<qm::IncludedFile>(); // some are not found
    return std::optional<qm::IncludedFile>(qm::IncludedFile{std::string(name), "", std::string(text_)});
  }

private:
  std::string_view text_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char *>(data), size);
  const std::size_t split = input.find('\0');
  std::string_view script = input.substr(0, split);
  OneFile files(split == std::string_view::npos ? std::string_view() : input.substr(split + 1));
  qm::ScriptOptions options;
  options.OnlyVersion = size % 2 == 1;
  options.Defines = {"DEBUG", "VER=1,2,3,4"};
  options.CodePage = size % 3 == 0 ? 65001 : 1252;
  options.Resolver = &files;
  qm::Result<qm::ParsedScript> parsed = qm::ReadResourceScript(script, options);
  if (parsed) return 0;
  if (parsed.kind() == qm::ErrorKind::TooLarge) return 0;
  if (parsed.kind() != qm::ErrorKind::Invalid) std::abort();
  // Every refusal names its place, but for the one about the whole script.
  if (!parsed.error().starts_with("line ") && parsed.error().find("no VERSIONINFO") == std::string::npos) std::abort();
  return 0;
}
