// Module images from untrusted bytes: headers, the resource tree, every
// leaf, the version resource, an in-memory update, and the .res reader.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pe/byte_source.h"
#include "pe/file_kind.h"
#include "pe/res_file.h"
#include "pe/resource_tree.h"
#include "pe/resource_update.h"
#include "pe/version_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  using namespace qm::pe;
  const std::span<const std::uint8_t> bytes(data, size);
  const MemorySource source(bytes);
  (void)SniffFileKind(source);
  (void)ParseResFile(bytes);
  auto headers = ParseHeaders(source);
  if (!headers) return 0;
  if (auto leaves = ParseResourceTree(source, *headers)) {
    for (const auto &leaf : *leaves)
      (void)ReadLeafData(source, *headers, leaf);
  }
  (void)ReadVersionResource(source, 0x0409);
  auto update = ResourceUpdate::BeginInMemory(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  if (!update) return 0;
  const std::uint8_t block[] = {0x5C, 0, 0x34, 0, 0, 0, 'V', 0, 'S', 0};
  (void)update->Put(kTypeVersion, 1, 0, block);
  const auto composed = update->Compose();
  if (composed) {
    // What the writer made must read back.
    const auto stamped = composed->Materialize(update->Source());
    if (!stamped) __builtin_trap();
    auto again = ReadVersionResource(MemorySource(*stamped), 0);
    if (!again || !again->has_value() || (*again)->bytes.size() != sizeof block) __builtin_trap();
  }
  return 0;
}
