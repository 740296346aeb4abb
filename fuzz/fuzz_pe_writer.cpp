// The module writer over untrusted modules: every stamp it makes must keep
// every promise (it parses again, the block is there and found, every other
// resource and the appended data kept, the platform's checksum), and be the
// same written piece by piece, as on disk, or built in memory.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "pe/resource_update.h"
#include "stamp_promises.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  using namespace qm::pe;
  const std::vector<std::uint8_t> original(data, data + size);
  auto update = ResourceUpdate::BeginInMemory(original);
  if (!update) return 0;
  // A block of some size taken from the input, so the writer both grows
  // and shrinks sections.
  std::vector<std::uint8_t> block(4 + (size > 0 ? data[size / 2] * 3 : 0), 0x42);
  if (!update->Put(kTypeVersion, 1, 0, block).ok()) __builtin_trap();
  const auto composed = update->Compose();
  if (!composed) return 0;
  const auto stamped = composed->Materialize(update->Source());
  // A stamp on disk writes the same module piece by piece.
  if (!stamped || WrittenAsAFile(*composed, original) != *stamped) {
    std::fprintf(stderr, "the module written piece by piece differs from the one built in memory\n");
    __builtin_trap();
  }
  const std::string broken = BrokenPromise(original, *stamped, block);
  if (!broken.empty()) {
    std::fprintf(stderr, "broken promise: %s\n", broken.c_str());
    __builtin_trap();
  }
  return 0;
}
