#pragma once
// The steps that quillmark.exe /v and quillmark-cli share: read an input
// file whole, then replace the module's version resource through the
// project's own writer, with the module held against other writers from
// its read to its replacement. Both programs go through these functions, so
// they store the same bytes and fail with the same exit codes.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "pe/resource_update.h"
#include "stamp/exit_codes.h"
#include "stamp/text_escape.h"

namespace qm::stamp {

struct Failure {
  ExitCode code = ExitCode::Internal;
  std::string message;
};

// The failure for `error` about the file `shown` in `role`: the path once,
// then what happened.
Failure FailureFor(FileRole role, std::string_view what, std::string_view shown, const Error &error);

// Reads the whole input named `shown` (a file, a pipe, a FIFO, or "-" for
// the standard input) into `out`. `what` names the file in messages
// ("block file"); `role` picks the exit codes.
std::optional<Failure> ReadWholeInput(const std::filesystem::path &path, std::string_view shown, std::string_view what,
                                      FileRole role, std::vector<std::uint8_t> &out);

// A block file as the injection takes it: whole and not empty. An empty file
// is refused rather than stored, since an empty resource is of no use and
// the platform's own service would have deleted the entry instead.
std::optional<Failure> ReadBlockFile(const std::filesystem::path &path, std::string_view shown,
                                     std::vector<std::uint8_t> &out);

// What a stamp does with what the module carries besides its resources.
enum class SignedPolicy {
  Remove, // a signature no longer matches the changed module: it goes, and a notice says so
  Refuse, // a signed module is left as it is (exit code 12)
};

struct StampOptions {
  // Stamp even a module whose appended data checks the file in a way the
  // stamp cannot keep right (the data will likely no longer work).
  bool force = false;
  SignedPolicy signedModules = SignedPolicy::Remove;
  // One line for each thing a successful stamp did that its caller should
  // know (a signature removed), without the program's name.
  std::function<void(const std::string &)> notice;
};

// Holds the module, reads and checks it, lets `change` put or delete
// resources, and replaces the file in one step; the module stays held from
// the read to the replacement, so two runs on one module follow each other
// and neither change is lost. On any failure the module is left exactly as
// it was. Appended data that checks the file is kept right where it can be
// (an NSIS installer's CRC) and refused where not, unless options.force.
std::optional<Failure> UpdateModule(const std::filesystem::path &path, std::string_view shown,
                                    const std::function<Status(pe::ResourceUpdate &)> &change,
                                    const StampOptions &options = {});

// Stores `data` as resource type 16, integer name 1, language 0 of the
// module, every other resource kept.
std::optional<Failure> StoreVersionResource(const std::filesystem::path &path, std::string_view shown,
                                            std::span<const std::uint8_t> data, const StampOptions &options = {});

} // namespace qm::stamp

namespace qm::cli {
using stamp::Failure;
using stamp::FailureFor;
using stamp::FileRole;
using stamp::Quoted;
using stamp::Shown;
using stamp::ReadBlockFile;
using stamp::ReadWholeInput;
using stamp::SignedPolicy;
using stamp::StampOptions;
using stamp::StoreVersionResource;
using stamp::UpdateModule;
} // namespace qm::cli
