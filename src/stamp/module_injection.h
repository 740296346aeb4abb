#pragma once
// The steps that quillmark.exe /v and quillmark-cli share: read an input
// file whole, then replace the module's version resource through the
// project's own writer, with the module held against other writers from
// its read to its replacement. Both programs go through these functions, so
// they store the same bytes and fail with the same exit codes.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "pe/resource_update.h"
#include "stamp/exit_codes.h"
#include "stamp/image_stamp.h"

namespace qm::stamp {

// Reads the whole input named `shown` (a file, a pipe, a FIFO, or "-" for
// the standard input). `what` names the file in messages ("block file");
// `role` picks the exit codes.
Result<std::vector<std::uint8_t>> ReadWholeInput(const std::filesystem::path &path, std::string_view shown,
                                                 std::string_view what, FileRole role);

// A block file as the injection takes it: whole and not empty. An empty file
// is refused rather than stored, since an empty resource is of no use and
// the platform's own service would have deleted the entry instead.
Result<std::vector<std::uint8_t>> ReadBlockFile(const std::filesystem::path &path, std::string_view shown);

// Holds the module, reads and checks it, lets `change` put or delete
// resources, and replaces the file in one step; the module stays held from
// the read to the replacement, so two runs on one module follow each other
// and neither change is lost. On any failure the module is left exactly as
// it was. Appended data that checks the file is kept right where it can be
// (an NSIS installer's CRC) and refused where not, unless options.force.
// A failure of `change` is reported as a module that cannot be stamped.
Status UpdateModule(const std::filesystem::path &path, std::string_view shown,
                    const std::function<Status(pe::ResourceUpdate &)> &change, const StampOptions &options = {});

// Stores `data` as resource type 16, integer name 1, language 0 of the
// module, every other resource kept.
Status StoreVersionResource(const std::filesystem::path &path, std::string_view shown,
                            std::span<const std::uint8_t> data, const StampOptions &options = {});

} // namespace qm::stamp
