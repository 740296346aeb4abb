#pragma once
// A module on disk, read where it lies for the programs that only look at
// it: reading its version resource touches the headers, the section table,
// the resource tree and the one resource, so a large module costs what a
// small one does.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "base/result.h"
#include "pe/byte_source.h"
#include "pe/version_reader.h"

namespace qm::stamp {

// A regular file read at offsets through the module reader's page cache.
// Messages name `path`.
class ModuleFile final : public pe::PagedSource {
public:
  static Result<std::unique_ptr<ModuleFile>> Open(const std::filesystem::path &path);
  std::uint64_t Size() const override { return size_; }

private:
  ModuleFile() = default;
  bool ReadDirect(std::uint64_t offset, std::span<std::uint8_t> out) const override;

  mutable std::ifstream file_;
  std::uint64_t size_ = 0;
};

// The version resource of the module at `path` (see pe::ReadVersionResource);
// messages name the path.
Result<std::optional<pe::FoundResource>> ReadVersionResource(const std::filesystem::path &path,
                                                             std::uint16_t userLanguage);

} // namespace qm::stamp
