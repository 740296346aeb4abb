#pragma once
// A module's version resources (type 16, name 1) in every language that
// holds one, read for editing and written back in one atomic replacement.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "codec/version_info_reader.h"
#include "pe/resource_update.h"

namespace qm::cli {

struct LanguageVersion {
  std::uint16_t Language = 0;
  VersionInfo Info;
};

// The version resources inside an update of one module.
class ModuleVersions {
public:
  ModuleVersions(pe::ResourceUpdate &update, std::string shown) : update_(update), shown_(std::move(shown)) {}

  // The languages holding a version resource, ascending.
  std::vector<std::uint16_t> Languages() const;
  // Reads the one under language with the general reader.
  std::optional<Failure> Read(std::uint16_t language, VersionInfo &out) const;
  bool IsLibrary() const;
  // Encodes each and puts it under its language, every other resource kept.
  std::optional<Failure> Put(const std::vector<LanguageVersion> &versions);

private:
  pe::ResourceUpdate &update_;
  std::string shown_;
};

// Reads and checks the module, lets `edit` read and put version resources,
// and with `write` replaces the module in one step; on any failure, and
// without `write`, the module is left exactly as it was.
std::optional<Failure> EditModule(const std::string &module, bool write,
                                  const std::function<std::optional<Failure>(ModuleVersions &)> &edit,
                                  const StampOptions &options = {});

std::string LanguageText(std::uint16_t language); // 0x0409

} // namespace qm::cli
