#pragma once
// What a successful stamp promises, checked between a module and its
// stamped copy. Free of the test framework: the writer's fuzzer checks
// every stamp it makes with it.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "pe/new_file.h"

namespace qm::pe {

// The first promise the stamped module breaks, or empty: it parses again;
// `block` is 16/1/0 (code page 0) and what the reader finds; every other
// resource keeps its bytes and code page; the data after the image is kept
// (a certificate dropped); SizeOfImage follows the sections; an image mapped
// as it lies in the file stays so; the checksum is the platform's.
std::string BrokenPromise(std::span<const std::uint8_t> before, std::span<const std::uint8_t> after,
                          std::span<const std::uint8_t> block);

// The same promises for an edit of the version information where it lies
// (quillmark-cli set, apply): each version resource keeps its type, name
// and language (a module without one gains 16/1/language) and `check`
// judges its new bytes beside the old ones (empty for a new resource),
// giving what is wrong or empty; every other resource and the layout as
// above.
using VersionCheck =
    std::function<std::string(std::span<const std::uint8_t> before, std::span<const std::uint8_t> after)>;
std::string BrokenEditPromise(std::span<const std::uint8_t> before, std::span<const std::uint8_t> after,
                              const VersionCheck &check);

// The module `composed` from `before` as a file receives it: appended to
// piece by piece, kept ranges of `before`, patches last. Empty when the
// pieces do not fit together.
std::vector<std::uint8_t> WrittenAsAFile(const NewFile &composed, std::span<const std::uint8_t> before);

class ResourceUpdate;
// The update's new module whole, as a module held in memory gets it.
Result<std::vector<std::uint8_t>> ComposedBytes(const ResourceUpdate &update);

} // namespace qm::pe
