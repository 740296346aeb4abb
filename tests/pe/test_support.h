#pragma once
// Shared helpers of the PE tests: test modules, the block they store, and
// views of a module's resources.
#include <cstdint>
#include <filesystem>
#include <map>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "pe/pe_image.h"
#include "pe/resource_tree.h"

namespace qm::pe::test {

using Bytes = std::vector<std::uint8_t>;

bool HaveModules();
std::filesystem::path ModulePath(const std::string &name);
// A fresh directory for one test's files.
std::filesystem::path ScratchDir(const std::string &name);
Bytes ReadBytes(const std::filesystem::path &path);
void WriteBytes(const std::filesystem::path &path, std::span<const std::uint8_t> bytes);

// The version block compiled from data/stamp.rc (file version 7.6.5.4).
const Bytes &StampBlock();

struct LeafContent {
  std::uint32_t codePage = 0;
  Bytes bytes;
  bool operator==(const LeafContent &) const = default;
};
using ResourceKey = std::tuple<ResourceId, ResourceId, std::uint16_t>;
using ResourceMap = std::map<ResourceKey, LeafContent>;
// Every leaf of a module with its bytes; fails the test on a parse error.
ResourceMap ReadResources(std::span<const std::uint8_t> image);
PeHeaders Headers(std::span<const std::uint8_t> image);

// A small PE32 image built here: headers, one resource section holding
// `items` at RVA 0x1000, FileAlignment 0x200.
Bytes MinimalImage(std::span<const ResourceItem> items);

// Wine's own modules installed on this machine, 32- and 64-bit (empty when
// Wine is not installed).
std::vector<std::filesystem::path> WineSampleDlls();

} // namespace qm::pe::test
