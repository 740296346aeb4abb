#pragma once
// A module's version resources (type 16, name 1) in every language that
// holds one, read for editing and written back in one atomic replacement.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/result.h"
#include "codec/version_info_reader.h"
#include "pe/resource_update.h"
#include "stamp/module_injection.h"

namespace qm::cli {

struct LanguageVersion {
  std::uint16_t Language = 0;
  VersionInfo Info;
};

// A block as stored under a language; languages given equal blocks share one.
struct StoredVersion {
  std::uint16_t Language = 0;
  pe::LeafBytes Block;
};

// The version resources inside an update of one module.
class ModuleVersions {
public:
  ModuleVersions(pe::ResourceUpdate &update, std::string shown) : update_(update), shown_(std::move(shown)) {}

  // The languages holding a version resource, ascending.
  std::vector<std::uint16_t> Languages() const;
  // Reads the one under language with the general reader.
  Result<VersionInfo> Read(std::uint16_t language) const;
  bool IsLibrary() const;
  // Encodes each and puts it under its language, every other resource kept.
  Status Put(const std::vector<LanguageVersion> &versions);
  // Reads the one under each language (ascending), lets `edit` change it,
  // and puts it back encoded; gives what each language now holds.
  // Languages holding the same bytes are decoded once, and share one new
  // block when the edit gives them the same, so the work and the new module
  // follow the bytes the module holds, not how many languages point at them.
  Result<std::vector<StoredVersion>> Edit(const std::vector<std::uint16_t> &languages,
                                          const std::function<void(std::uint16_t, VersionInfo &)> &edit);

private:
  std::string Where(std::uint16_t language) const;
  Result<pe::LeafBytes> ReadBytes(std::uint16_t language) const;
  Result<VersionInfo> Decode(std::uint16_t language, const pe::LeafBytes &bytes) const;
  Result<pe::LeafBytes> Encode(std::uint16_t language, const VersionInfo &info) const;
  Status Store(std::uint16_t language, const pe::LeafBytes &block);

  pe::ResourceUpdate &update_;
  std::string shown_;
};

// Reads and checks the module, lets `edit` read and put version resources,
// and replaces the module in one step; on any failure, and in a dry run
// (options.dryRun), the module is left exactly as it was. A failure of
// `edit` is reported in its own words, not as a module that cannot be
// stamped.
Status EditModule(const std::string &module, const std::function<Status(ModuleVersions &)> &edit,
                  const stamp::StampOptions &options = {});

// EditModule with the stamp given: `stamp` runs the change it is handed
// over a module's resources (in a file, or in bytes).
Status EditVersionsWith(const std::string &module, const std::function<Status(ModuleVersions &)> &edit,
                        const std::function<Status(const stamp::ResourceChange &)> &stamp);

std::string LanguageText(std::uint16_t language); // 0x0409

} // namespace qm::cli
