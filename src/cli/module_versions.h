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
  std::optional<Failure> Read(std::uint16_t language, VersionInfo &out) const;
  bool IsLibrary() const;
  // Encodes each and puts it under its language, every other resource kept.
  std::optional<Failure> Put(const std::vector<LanguageVersion> &versions);
  // Reads the one under each language (ascending), lets `edit` change it,
  // and puts it back encoded; `stored` gets what each language now holds.
  // Languages holding the same bytes are decoded once, and share one new
  // block when the edit gives them the same, so the work and the new module
  // follow the bytes the module holds, not how many languages point at them.
  std::optional<Failure> Edit(const std::vector<std::uint16_t> &languages,
                              const std::function<void(std::uint16_t, VersionInfo &)> &edit,
                              std::vector<StoredVersion> &stored);

private:
  std::string Where(std::uint16_t language) const;
  std::optional<Failure> ReadBytes(std::uint16_t language, pe::LeafBytes &out) const;
  std::optional<Failure> Decode(std::uint16_t language, const pe::LeafBytes &bytes, VersionInfo &out) const;
  std::optional<Failure> Encode(std::uint16_t language, const VersionInfo &info, pe::LeafBytes &block) const;
  std::optional<Failure> Store(std::uint16_t language, const pe::LeafBytes &block);

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
