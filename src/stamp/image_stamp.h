#pragma once
// The part of a stamp that works on bytes alone: check the module, let a
// change put or delete resources, compose the new module and check it
// against what the module carries. Holding and replacing the file is the
// caller's (module_injection.h for files; the WebAssembly build hands the
// bytes back to its host), so every front end refuses and notices alike.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "pe/appended_data.h"
#include "pe/byte_source.h"
#include "pe/new_file.h"
#include "pe/resource_update.h"
#include "stamp/exit_codes.h"

namespace qm::stamp {

// `error` about the file `shown` in `role`, in the words a message about
// that file takes: the path once, then what happened. Kind and role travel
// on, so the exit code follows from the error alone.
Error FileError(FileRole role, std::string_view what, std::string_view shown, Error error);

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
  // Read, change and compose the module under the same hold and checks as a
  // real stamp (appended data and signatures included), then leave it as it
  // was: a dry run fails where the stamp would.
  bool dryRun = false;
  // One line for each thing a successful stamp did that its caller should
  // know (a signature removed), without the program's name.
  std::function<void(const std::string &)> notice;
};

// What a stamp does to a module's resources.
using ResourceChange = std::function<Status(pe::ResourceUpdate &)>;

// The new module, composed and checked, and what its caller tells once it
// is in place.
struct StampedImage {
  pe::NewFile file;
  bool signatureRemoved = false;
  std::optional<pe::PayloadRisk> brokenPayload; // appended data stamped with force
  std::optional<std::string_view> selfChecking; // a self-checking packer stamped with force
};

// Reads and checks the module in `source`, lets `change` put or delete
// resources, composes the new module and checks it against appended data
// (refused unless options.force) and a signature (options.signedModules).
// A failure of `change` is reported as a module that cannot be stamped.
Result<StampedImage> StampImage(const std::shared_ptr<const pe::ByteSource> &source, std::string_view shown,
                                const ResourceChange &change, const StampOptions &options);

// The notices a stamp in place gives through options.notice.
void TellStamped(const StampedImage &stamped, std::string_view shown, const StampOptions &options);

// The change that stores `data` as resource type 16, integer name 1,
// language 0, every other resource kept.
ResourceChange PutVersionResource(std::span<const std::uint8_t> data);

} // namespace qm::stamp
