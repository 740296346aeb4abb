#pragma once
// A module's version resources (type 16, name 1) in every language that
// holds one, read for editing and written back in one atomic replacement.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "codec/version_info_reader.h"
#include "pe/resource_update.h"

namespace qm::cli {

struct LanguageVersion {
  std::uint16_t Language = 0;
  VersionInfo Info;
};

class ModuleVersions {
public:
  // Reads the module whole and checks it; nothing is written.
  static std::optional<Failure> Open(const std::string &module, std::optional<ModuleVersions> &out);

  // The languages holding a version resource, ascending.
  std::vector<std::uint16_t> Languages() const;
  // Reads the one under language with the general reader.
  std::optional<Failure> Read(std::uint16_t language, VersionInfo &out) const;
  bool IsLibrary() const;

  // Encodes each and stores it under its language, every other resource
  // kept; then replaces the module file, or leaves it as it was.
  std::optional<Failure> Write(const std::vector<LanguageVersion> &versions);

  const std::string &Shown() const { return shown_; }

private:
  std::string shown_;
  std::optional<pe::ResourceUpdate> update_;
};

std::string LanguageText(std::uint16_t language); // 0x0409

} // namespace qm::cli
